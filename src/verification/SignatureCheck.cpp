#include "SignatureCheck.h"

#include <QString>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "OpenSslPointer.h"

bool SignatureCheck::verify(EVP_PKEY* key, const QByteArray& data, const QByteArray& signature)
{
    return verifyDigest(key, sha256(data), signature);
}

bool SignatureCheck::verifyDigest(EVP_PKEY* key, const QByteArray& sha256, const QByteArray& signature)
{
    if (!key || sha256.isEmpty())
        return false;
    const OpenSslPointer<EVP_PKEY_CTX> context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    // The digest is given: the key context only needs to know which one it
    // is, to compare the DigestInfo inside the signature.
    return context && EVP_PKEY_verify_init(context.get()) == 1
           && EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1
           && EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) == 1
           && EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
                              size_t(signature.size()), reinterpret_cast<const unsigned char*>(sha256.constData()),
                              size_t(sha256.size()))
                  == 1;
}

QByteArray SignatureCheck::sha256(const QByteArray& data)
{
    QByteArray digest(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    if (EVP_Digest(data.constData(), size_t(data.size()), reinterpret_cast<unsigned char*>(digest.data()), &length,
                   EVP_sha256(), nullptr)
        != 1)
        return QByteArray();
    digest.resize(int(length));
    return digest;
}

QString SignatureCheck::takeOldestErrorText()
{
    const unsigned long code = ERR_get_error();
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return QString::fromLatin1(text);
}
