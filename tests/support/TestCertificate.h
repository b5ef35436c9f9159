#ifndef TESTCERTIFICATE_H
#define TESTCERTIFICATE_H

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>

// A self-signed TLS server certificate made at run time (RSA 2048, SHA-256,
// valid from an hour ago for a year). Its subject and issuer are the same
// name, with one common-name entry per given name.
class TestCertificate
{
public:
    static TestCertificate generate(const QStringList& commonNames = {QStringLiteral("updater-test-server")});

    bool isNull() const;
    QSslCertificate certificate() const;
    QSslKey privateKey() const;
    QByteArray certificatePem() const;

private:
    QByteArray m_certificatePem;
    QByteArray m_privateKeyPem;
};

#endif
