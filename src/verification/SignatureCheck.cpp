#include "SignatureCheck.h"

#include <QString>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "OpenSslPointer.h"

bool SignatureCheck::verify(EVP_PKEY* key, const QByteArray& data, const QByteArray& signature)
{
    if (!key)
        return false;
    const OpenSslPointer<EVP_MD_CTX> context(EVP_MD_CTX_new());
    if (!context)
        return false;
    // Owned by the digest context.
    EVP_PKEY_CTX* keyContext = nullptr;
    return EVP_DigestVerifyInit_ex(context.get(), &keyContext, "SHA256", nullptr, nullptr, key, nullptr) == 1
           && EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING) == 1
           && EVP_DigestVerifyUpdate(context.get(), data.constData(), size_t(data.size())) == 1
           && EVP_DigestVerifyFinal(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
                                    size_t(signature.size()))
                  == 1;
}

QString SignatureCheck::takeOldestErrorText()
{
    const unsigned long code = ERR_get_error();
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return QString::fromLatin1(text);
}
