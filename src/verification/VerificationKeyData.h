#ifndef VERIFICATIONKEYDATA_H
#define VERIFICATIONKEYDATA_H

// The publisher's public key as the build stores it (the definitions are
// generated from the PEM file chosen with UPDATER_PUBLIC_KEY). The modulus is
// never stored whole: it is the first 256 bytes of blockA XOR blockB.
namespace VerificationKeyData {

const int BlockLength = 384;
const int ModulusLength = 256;
const int ExponentLength = 3;

extern const unsigned char blockA[BlockLength];
extern const unsigned char blockB[BlockLength];
// Public exponent, big-endian.
extern const unsigned char exponent[ExponentLength];

} // namespace VerificationKeyData

#endif
