#include "SignatureDiagnosis.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "verification/OpenSslPointer.h"
#include "verification/SignatureCheck.h"

SignatureDiagnosis::Verdict SignatureDiagnosis::diagnose(EVP_PKEY* key, const QByteArray& data,
                                                         const QByteArray& signature)
{
    if (SignatureCheck::verify(key, data, signature))
        return Good;

    // The digest inside the signature, with the DigestInfo for SHA-256
    // checked and taken off by OpenSSL.
    QByteArray recovered(EVP_MAX_MD_SIZE, '\0');
    size_t length = size_t(recovered.size());
    const OpenSslPointer<EVP_PKEY_CTX> context(key ? EVP_PKEY_CTX_new(key, nullptr) : nullptr);
    const bool recoveredDigest =
        context && EVP_PKEY_verify_recover_init(context.get()) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) == 1 &&
        EVP_PKEY_verify_recover(context.get(), reinterpret_cast<unsigned char*>(recovered.data()), &length,
                                reinterpret_cast<const unsigned char*>(signature.constData()),
                                size_t(signature.size())) == 1;
    ERR_clear_error();
    // A recovered digest differs from the data's, or the check above would
    // have passed.
    return recoveredDigest ? DataChanged : OtherKey;
}
