#ifndef VERIFICATIONKEY_H
#define VERIFICATIONKEY_H

#include <QByteArray>

#include "OpenSslPointer.h"

// The public key that packages must be signed with, built into the module.
class VerificationKey
{
public:
    // The 256-byte big-endian modulus, combined from the two stored blocks.
    static QByteArray modulus();
    // The 3-byte big-endian public exponent.
    static QByteArray exponent();

    // An RSA public key from big-endian modulus and exponent bytes; null when
    // OpenSSL refuses them (its error is queued).
    static OpenSslPointer<EVP_PKEY> createPublicKey(const QByteArray& modulus, const QByteArray& exponent);
    // The built-in key as an OpenSSL key object.
    static OpenSslPointer<EVP_PKEY> createBuiltInKey();
};

#endif
