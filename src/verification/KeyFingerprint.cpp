#include "KeyFingerprint.h"

#include <cstdio>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "OpenSslPointer.h"

namespace {

// No pass phrase is ever asked for: an encrypted key has no fingerprint here.
int noPassword(char*, int, int, void*)
{
    return 0;
}

} // namespace

std::string KeyFingerprint::of(EVP_PKEY* key)
{
    if (!key)
        return std::string();
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0)
        return std::string();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    const bool hashed = EVP_Digest(der, size_t(length), digest, &digestLength, EVP_sha256(), nullptr) == 1;
    OPENSSL_free(der);
    if (!hashed)
        return std::string();

    static const char hexDigits[] = "0123456789abcdef";
    std::string text = "SHA256:";
    for (unsigned int i = 0; i < digestLength; ++i) {
        text += hexDigits[digest[i] >> 4];
        text += hexDigits[digest[i] & 0x0f];
    }
    return text;
}

std::string KeyFingerprint::ofPemFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return std::string();
    OpenSslPointer<EVP_PKEY> key(PEM_read_PUBKEY(file, nullptr, noPassword, nullptr));
    if (!key) {
        std::rewind(file);
        key.reset(PEM_read_PrivateKey(file, nullptr, noPassword, nullptr));
    }
    std::fclose(file);
    ERR_clear_error();
    return of(key.get());
}
