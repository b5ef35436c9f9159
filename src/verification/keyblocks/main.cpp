// Build-time generator of the built-in verification key.
//
//   make-key-blocks PUBLIC.pem OUTPUT.cpp
//   make-key-blocks --fingerprint KEY.pem...
//
// Reads a PEM RSA public key, refuses anything but a 2048-bit modulus with a
// public exponent of at most 3 bytes, and writes the C++ definitions of
// VerificationKeyData: two 384-byte blocks whose XOR starts with the modulus,
// and the exponent. The blocks are derived from the key itself, so the same
// key always gives the same source.
//
// With --fingerprint it prints, for each key file, a line "FINGERPRINT PATH"
// (or "- PATH" when the file holds no key): the configure step shows the
// fingerprint of the key it is about to build in this way.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "verification/KeyFingerprint.h"
#include "verification/OpenSslPointer.h"

namespace {

const int BlockLength = 384;
const int ModulusLength = 256;
const int ExponentLength = 3;

int refuse(const std::string& keyPath, const std::string& reason)
{
    std::fprintf(stderr, "make-key-blocks: UPDATER_PUBLIC_KEY %s refused: %s\n", keyPath.c_str(), reason.c_str());
    return 1;
}

// Bytes that look random, derived from the seed by SHA-256 in counter mode.
std::vector<unsigned char> derive(const std::vector<unsigned char>& seed, const char* label, size_t length)
{
    std::vector<unsigned char> out;
    for (unsigned int counter = 0; out.size() < length; ++counter) {
        std::vector<unsigned char> input(label, label + std::strlen(label));
        input.push_back((unsigned char)(counter >> 8));
        input.push_back((unsigned char)counter);
        input.insert(input.end(), seed.begin(), seed.end());
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        if (EVP_Digest(input.data(), input.size(), digest, &digestLength, EVP_sha256(), nullptr) != 1)
            return {};
        out.insert(out.end(), digest, digest + digestLength);
    }
    out.resize(length);
    return out;
}

void writeArray(std::FILE* out, const char* name, const std::vector<unsigned char>& bytes)
{
    std::fprintf(out, "const unsigned char %s[%zu] = {", name, bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i)
        std::fprintf(out, "%s0x%02x,", i % 12 == 0 ? "\n    " : " ", bytes[i]);
    std::fprintf(out, "\n};\n\n");
}

} // namespace

int printFingerprints(int count, char** paths)
{
    for (int i = 0; i < count; ++i) {
        const std::string fingerprint = KeyFingerprint::ofPemFile(paths[i]);
        std::printf("%s %s\n", fingerprint.empty() ? "-" : fingerprint.c_str(), paths[i]);
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--fingerprint") == 0)
        return printFingerprints(argc - 2, argv + 2);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-key-blocks PUBLIC.pem OUTPUT.cpp\n"
                             "       make-key-blocks --fingerprint KEY.pem...\n");
        return 2;
    }
    const std::string keyPath = argv[1];
    const std::string outputPath = argv[2];

    std::FILE* keyFile = std::fopen(keyPath.c_str(), "r");
    if (!keyFile)
        return refuse(keyPath, "the file cannot be opened");
    const OpenSslPointer<EVP_PKEY> key(PEM_read_PUBKEY(keyFile, nullptr, nullptr, nullptr));
    std::fclose(keyFile);
    if (!key)
        return refuse(keyPath, "it is not a PEM public key (\"-----BEGIN PUBLIC KEY-----\")");

    const std::string fingerprint = KeyFingerprint::of(key.get());
    BIGNUM* modulusNumber = nullptr;
    BIGNUM* exponentNumber = nullptr;
    if (EVP_PKEY_is_a(key.get(), "RSA")) {
        EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &modulusNumber);
        EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_E, &exponentNumber);
    }
    const OpenSslPointer<BIGNUM> n(modulusNumber);
    const OpenSslPointer<BIGNUM> e(exponentNumber);
    if (!n || !e)
        return refuse(keyPath, "it is not an RSA key");
    const int modulusBits = BN_num_bits(n.get());
    const int exponentBytes = BN_num_bytes(e.get());
    std::vector<unsigned char> modulus(ModulusLength);
    std::vector<unsigned char> exponent(ExponentLength);
    const bool fits = modulusBits == 2048 && exponentBytes <= ExponentLength && !BN_is_zero(e.get()) &&
                      BN_bn2binpad(n.get(), modulus.data(), ModulusLength) == ModulusLength &&
                      BN_bn2binpad(e.get(), exponent.data(), ExponentLength) == ExponentLength;
    if (modulusBits != 2048)
        return refuse(keyPath, "the modulus has " + std::to_string(modulusBits) + " bits; it must have 2048");
    if (!fits)
        return refuse(keyPath, "the public exponent has " + std::to_string(exponentBytes) +
                                   " bytes; it must have 1 to 3 (65537 is usual)");

    std::vector<unsigned char> seed = modulus;
    seed.insert(seed.end(), exponent.begin(), exponent.end());
    const std::vector<unsigned char> blockA = derive(seed, "updater key block A", BlockLength);
    std::vector<unsigned char> blockB = derive(seed, "updater key block tail", BlockLength);
    if (blockA.size() != size_t(BlockLength) || blockB.size() != size_t(BlockLength))
        return refuse(keyPath, "SHA-256 is not available");
    for (int i = 0; i < BlockLength; ++i)
        blockB[i] = (unsigned char)(blockA[i] ^ (i < ModulusLength ? modulus[i] : blockB[i]));

    const std::string temporaryPath = outputPath + ".tmp";
    std::FILE* out = std::fopen(temporaryPath.c_str(), "w");
    if (!out) {
        std::fprintf(stderr, "make-key-blocks: cannot write %s\n", temporaryPath.c_str());
        return 1;
    }
    std::fprintf(out, "// Generated by make-key-blocks from the build's public key. Do not edit.\n\n"
                      "#include \"verification/VerificationKeyData.h\"\n\nnamespace VerificationKeyData {\n\n");
    writeArray(out, "blockA", blockA);
    writeArray(out, "blockB", blockB);
    writeArray(out, "exponent", exponent);
    std::fprintf(out, "} // namespace VerificationKeyData\n");
    const bool written = std::ferror(out) == 0;
    if (std::fclose(out) != 0 || !written || std::rename(temporaryPath.c_str(), outputPath.c_str()) != 0) {
        std::remove(temporaryPath.c_str());
        std::fprintf(stderr, "make-key-blocks: cannot write %s\n", outputPath.c_str());
        return 1;
    }
    std::printf("make-key-blocks: built-in key %s (%s)\n", fingerprint.c_str(), keyPath.c_str());
    return 0;
}
