#ifndef OPENSSLPOINTER_H
#define OPENSSLPOINTER_H

#include <memory>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/x509.h>

// Frees each kind of OpenSSL object with the library's own function.
struct OpenSslFree {
    void operator()(BIO* bio) const { BIO_free_all(bio); }
    void operator()(BIGNUM* number) const { BN_free(number); }
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
    void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
    void operator()(OSSL_PARAM_BLD* builder) const { OSSL_PARAM_BLD_free(builder); }
    void operator()(X509* certificate) const { X509_free(certificate); }
};

// The one owner of an OpenSSL object: freed on every path out of its scope.
template <typename T>
using OpenSslPointer = std::unique_ptr<T, OpenSslFree>;

#endif
