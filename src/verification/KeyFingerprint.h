#ifndef KEYFINGERPRINT_H
#define KEYFINGERPRINT_H

#include <string>

typedef struct evp_pkey_st EVP_PKEY;

// The fingerprint that names a signing key wherever a person has to tell keys
// apart: the SHA-256 of the public key's DER encoding (SubjectPublicKeyInfo),
// written "SHA256:" followed by 64 lower-case hexadecimal digits. For a
// private key it is the fingerprint of its public half, so a key pair has one
// fingerprint. The same digits come out of
//   openssl pkey -pubin -in public.pem -outform DER | sha256sum
//
// Shared by ztx and by the build's key generator, which has no Qt: hence the
// std::string.
class KeyFingerprint
{
public:
    // Empty when the key cannot be encoded.
    static std::string of(EVP_PKEY* key);
    // Of the first key in a PEM file: a public key, or the public half of an
    // unencrypted private key. Empty when the file holds neither.
    static std::string ofPemFile(const std::string& path);
};

#endif
