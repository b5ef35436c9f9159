#ifndef SIGNATURECHECK_H
#define SIGNATURECHECK_H

#include <QByteArray>

typedef struct evp_pkey_st EVP_PKEY;

// RSASSA-PKCS1-v1_5 with SHA-256, the scheme packages are signed with.
class SignatureCheck
{
public:
    // True exactly when signature is a valid signature of data under key. On
    // false OpenSSL has queued the reason (a null key queues nothing).
    static bool verify(EVP_PKEY* key, const QByteArray& data, const QByteArray& signature);
    // The same check for data known only by its SHA-256 (32 bytes), as
    // computed while it arrived.
    static bool verifyDigest(EVP_PKEY* key, const QByteArray& sha256, const QByteArray& signature);

    // SHA-256 of data; empty when OpenSSL fails.
    static QByteArray sha256(const QByteArray& data);

    // The text of the oldest queued OpenSSL error ("error:00000000:lib(0)::
    // reason(0)" when none is queued); the queue is emptied.
    static QString takeOldestErrorText();
};

#endif
