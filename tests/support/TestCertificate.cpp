#include "TestCertificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "verification/OpenSslPointer.h"

namespace {

QByteArray bioContents(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<int>(size));
}

} // namespace

TestCertificate TestCertificate::generate(const QStringList& commonNames)
{
    TestCertificate result;
    const OpenSslPointer<EVP_PKEY> key(EVP_RSA_gen(2048));
    const OpenSslPointer<X509> certificate(X509_new());
    if (!key || !certificate)
        return result;

    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 365L * 24 * 3600);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    for (const QString& commonName : commonNames) {
        const QByteArray utf8 = commonName.toUtf8();
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(utf8.constData()),
                                   utf8.size(), -1, 0);
    }
    X509_set_issuer_name(certificate.get(), name);
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) <= 0)
        return result;

    const OpenSslPointer<BIO> certificateBio(BIO_new(BIO_s_mem()));
    const OpenSslPointer<BIO> keyBio(BIO_new(BIO_s_mem()));
    if (!certificateBio || !keyBio || PEM_write_bio_X509(certificateBio.get(), certificate.get()) != 1
        || PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return result;

    result.m_certificatePem = bioContents(certificateBio.get());
    result.m_privateKeyPem = bioContents(keyBio.get());
    return result;
}

bool TestCertificate::isNull() const
{
    return m_certificatePem.isEmpty() || m_privateKeyPem.isEmpty();
}

QSslCertificate TestCertificate::certificate() const
{
    return QSslCertificate(m_certificatePem, QSsl::Pem);
}

QSslKey TestCertificate::privateKey() const
{
    return QSslKey(m_privateKeyPem, QSsl::Rsa, QSsl::Pem);
}

QByteArray TestCertificate::certificatePem() const
{
    return m_certificatePem;
}
