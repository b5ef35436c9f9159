#ifndef SIGNATUREDIAGNOSIS_H
#define SIGNATUREDIAGNOSIS_H

#include <QByteArray>

typedef struct evp_pkey_st EVP_PKEY;

// Why a signature does not verify with a key, where that can be told. With
// RSASSA-PKCS1-v1_5 the public key recovers the digest that was signed: when
// that works, the signature was made with this key and the signed bytes have
// changed since; when it does not, the signature was made with another key
// (or the signature bytes themselves are damaged).
class SignatureDiagnosis
{
public:
    enum Verdict {
        Good,            // verifies: the module's own check passes
        DataChanged,     // made with this key, over other bytes
        OtherKey         // not made with this key, or damaged
    };

    static Verdict diagnose(EVP_PKEY* key, const QByteArray& data, const QByteArray& signature);
};

#endif
