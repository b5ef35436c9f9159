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

EVP_PKEY* VerificationKey::createPublicKey(const QByteArray& modulus, const QByteArray& exponent)
{
    EVP_PKEY* key = nullptr;
    BIGNUM* n = BN_bin2bn(reinterpret_cast<const unsigned char*>(modulus.constData()), modulus.size(), nullptr);
    BIGNUM* e = BN_bin2bn(reinterpret_cast<const unsigned char*>(exponent.constData()), exponent.size(), nullptr);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM* params = nullptr;
    EVP_PKEY_CTX* context = nullptr;
    if (n && e && builder && OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, n) &&
        OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, e) &&
        (params = OSSL_PARAM_BLD_to_param(builder)) != nullptr &&
        (context = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr)) != nullptr &&
        EVP_PKEY_fromdata_init(context) == 1) {
        if (EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
            key = nullptr;
    }
    EVP_PKEY_CTX_free(context);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(builder);
    BN_free(e);
    BN_free(n);
    return key;
}

EVP_PKEY* VerificationKey::createBuiltInKey()
{
    return createPublicKey(modulus(), exponent());
}
