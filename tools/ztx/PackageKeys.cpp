#include "PackageKeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "verification/KeyFingerprint.h"
#include "verification/OpenSslPointer.h"
#include "verification/SignatureCheck.h"
#include "verification/SignatureTrailer.h"
#include "verification/VerificationKey.h"

namespace {

const int KeyBits = 2048;

// Never ask for a pass phrase on the terminal: encrypted keys are refused.
int noPassword(char*, int, int, void*)
{
    return 0;
}

QByteArray readAll(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return QByteArray();
    }
    return file.readAll();
}

QByteArray bioText(BIO* bio)
{
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return QByteArray(data, int(length));
}

bool writeNew(const QString& path, const QByteArray& content, QFile::Permissions permissions, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        error = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        return false;
    }
    // Restricted before the key goes in.
    file.setPermissions(permissions);
    if (file.write(content) != content.size() || !file.flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.remove();
        return false;
    }
    return true;
}

} // namespace

namespace PackageKeys {

QString openSslError()
{
    return SignatureCheck::takeOldestErrorText();
}

bool generate(const QString& directory, QString& error)
{
    const QString privatePath = QDir(directory).filePath(QStringLiteral("private.pem"));
    const QString publicPath = QDir(directory).filePath(QStringLiteral("public.pem"));
    if (QFileInfo::exists(privatePath) || QFileInfo::exists(publicPath)) {
        error = QStringLiteral("%1 already holds a key pair; not overwritten").arg(directory);
        return false;
    }
    if (!QDir().mkpath(directory)) {
        error = QStringLiteral("cannot create the folder %1").arg(directory);
        return false;
    }

    const OpenSslPointer<EVP_PKEY> key(EVP_RSA_gen(KeyBits));
    if (!key) {
        error = QStringLiteral("key generation failed: ") + openSslError();
        return false;
    }
    const OpenSslPointer<BIO> privateBio(BIO_new(BIO_s_mem()));
    const OpenSslPointer<BIO> publicBio(BIO_new(BIO_s_mem()));
    if (!privateBio || !publicBio
        || PEM_write_bio_PrivateKey(privateBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1
        || PEM_write_bio_PUBKEY(publicBio.get(), key.get()) != 1) {
        error = QStringLiteral("cannot encode the key: ") + openSslError();
        return false;
    }
    const QByteArray privateText = bioText(privateBio.get());
    const QByteArray publicText = bioText(publicBio.get());

    if (!writeNew(privatePath, privateText, QFile::ReadOwner | QFile::WriteOwner, error))
        return false;
    if (!writeNew(publicPath, publicText,
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther, error)) {
        QFile::remove(privatePath);
        return false;
    }
    return true;
}

OpenSslPointer<EVP_PKEY> loadPrivateKey(const QString& path, QString& error)
{
    const QByteArray text = readAll(path, error);
    if (!error.isEmpty())
        return nullptr;
    const OpenSslPointer<BIO> bio(BIO_new_mem_buf(text.constData(), text.size()));
    OpenSslPointer<EVP_PKEY> key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr) : nullptr);
    if (!key) {
        error = QStringLiteral("%1 is not an unencrypted PEM private key (%2)").arg(path, openSslError());
        return nullptr;
    }
    if (!EVP_PKEY_is_a(key.get(), "RSA") || EVP_PKEY_get_bits(key.get()) != KeyBits) {
        error = QStringLiteral("%1 is not an RSA-2048 key; packages are signed with RSA-2048").arg(path);
        return nullptr;
    }
    return key;
}

OpenSslPointer<EVP_PKEY> loadPublicKey(const QString& path, QString& error)
{
    const QByteArray text = readAll(path, error);
    if (!error.isEmpty())
        return nullptr;
    const OpenSslPointer<BIO> bio(BIO_new_mem_buf(text.constData(), text.size()));
    OpenSslPointer<EVP_PKEY> key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, noPassword, nullptr) : nullptr);
    if (!key && bio) {
        BIO_reset(bio.get());
        key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr));
    }
    ERR_clear_error();
    if (!key) {
        error = QStringLiteral("%1 holds no PEM public key").arg(path);
        return nullptr;
    }
    if (!EVP_PKEY_is_a(key.get(), "RSA")) {
        error = QStringLiteral("%1 is not an RSA key").arg(path);
        return nullptr;
    }
    return key;
}

QByteArray sign(EVP_PKEY* key, const QByteArray& data, QString& error)
{
    QByteArray signature;
    const OpenSslPointer<EVP_MD_CTX> context(EVP_MD_CTX_new());
    // Owned by the digest context.
    EVP_PKEY_CTX* keyContext = nullptr;
    size_t length = 0;
    bool ok = context
              && EVP_DigestSignInit_ex(context.get(), &keyContext, "SHA256", nullptr, nullptr, key, nullptr) == 1
              && EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING) == 1
              && EVP_DigestSignUpdate(context.get(), data.constData(), size_t(data.size())) == 1
              && EVP_DigestSignFinal(context.get(), nullptr, &length) == 1
              && length <= size_t(SignatureTrailer::MaxSignatureSize);
    if (ok) {
        signature.resize(int(length));
        ok = EVP_DigestSignFinal(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length) == 1;
        signature.resize(int(length));
    }
    if (!ok) {
        error = QStringLiteral("signing failed: ") + openSslError();
        return QByteArray();
    }
    if (!SignatureCheck::verify(key, data, signature)) {
        error = QStringLiteral("the new signature does not verify: ") + openSslError();
        return QByteArray();
    }
    return signature;
}

bool isBuiltInKey(EVP_PKEY* key)
{
    BIGNUM* modulusNumber = nullptr;
    BIGNUM* exponentNumber = nullptr;
    const bool read = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &modulusNumber) == 1
                      && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &exponentNumber) == 1;
    const OpenSslPointer<BIGNUM> n(modulusNumber);
    const OpenSslPointer<BIGNUM> e(exponentNumber);
    QByteArray modulus(256, '\0');
    QByteArray exponent(3, '\0');
    const bool same = read && BN_bn2binpad(n.get(), reinterpret_cast<unsigned char*>(modulus.data()), 256) == 256
                      && BN_bn2binpad(e.get(), reinterpret_cast<unsigned char*>(exponent.data()), 3) == 3
                      && modulus == VerificationKey::modulus() && exponent == VerificationKey::exponent();
    ERR_clear_error();
    return same;
}

QString fingerprint(EVP_PKEY* key)
{
    return QString::fromStdString(KeyFingerprint::of(key));
}

QString builtInFingerprint()
{
    const QString text = fingerprint(VerificationKey::createBuiltInKey().get());
    ERR_clear_error();
    return text;
}

bool isTestKey(const QString& fingerprint)
{
    // Computed from tests/keys/test-public.pem when the build was configured.
    return !fingerprint.isEmpty() && fingerprint == QLatin1String(UPDATER_TEST_KEY_FINGERPRINT);
}

} // namespace PackageKeys
