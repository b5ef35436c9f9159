#include "VerificationKey.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "VerificationKeyData.h"

QByteArray VerificationKey::modulus()
{
    QByteArray combined(VerificationKeyData::BlockLength, '\0');
    for (int i = 0; i < VerificationKeyData::BlockLength; ++i)
        combined[i] = char(VerificationKeyData::blockA[i] ^ VerificationKeyData::blockB[i]);
    return combined.left(VerificationKeyData::ModulusLength);
}

QByteArray VerificationKey::exponent()
{
    return QByteArray(reinterpret_cast<const char*>(VerificationKeyData::exponent), VerificationKeyData::ExponentLength);
}

OpenSslPointer<EVP_PKEY> VerificationKey::createPublicKey(const QByteArray& modulus, const QByteArray& exponent)
{
    const OpenSslPointer<BIGNUM> n(
        BN_bin2bn(reinterpret_cast<const unsigned char*>(modulus.constData()), modulus.size(), nullptr));
    const OpenSslPointer<BIGNUM> e(
        BN_bin2bn(reinterpret_cast<const unsigned char*>(exponent.constData()), exponent.size(), nullptr));
    const OpenSslPointer<OSSL_PARAM_BLD> builder(OSSL_PARAM_BLD_new());
    if (!n || !e || !builder || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get())
        || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()))
        return nullptr;
    const OpenSslPointer<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(builder.get()));
    const OpenSslPointer<EVP_PKEY_CTX> context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1)
        return nullptr;
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return nullptr;
    return OpenSslPointer<EVP_PKEY>(key);
}

OpenSslPointer<EVP_PKEY> VerificationKey::createBuiltInKey()
{
    return createPublicKey(modulus(), exponent());
}
