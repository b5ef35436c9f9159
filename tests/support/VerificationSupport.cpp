#include "VerificationSupport.h"

#include <QProcess>
#include <QtEndian>

#include <utility>

#include <log4cpp/Category.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/StringQueueAppender.hh>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "logging/ModuleToolsLogger.h"
#include "verification/OpenSslPointer.h"
#include "support/FileTools.h"
#include "support/TestPaths.h"

namespace VerificationSupport {

namespace {

    QByteArray le64(qint64 value)
    {
        QByteArray bytes(8, '\0');
        qToLittleEndian<qint64>(value, bytes.data());
        return bytes;
    }

    } // namespace

void put32(QByteArray& bytes, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char(value >> (8 * i));
}

QByteArray trailer(qint64 signatureSizeField, const QByteArray& signature, qint64 extraDataSizeField, char marker)
{
    return le64(signatureSizeField) + signature + le64(extraDataSizeField) + QByteArray(1, marker);
}

QByteArray trailer(const QByteArray& signature)
{
    return trailer(signature.size(), signature, signature.size() + 8);
}

QByteArray peImage(
    quint32 headerSize, const QByteArray& body, const QByteArray& padding, const QByteArray& certificateTable)
{
    QByteArray headers(int(headerSize), '\0');
    headers[0] = 'M';
    headers[1] = 'Z';
    put32(headers, 0x3C, 0x40);
    headers[0x40] = 'P';
    headers[0x41] = 'E';
    put32(headers, 0x40 + 0x54, headerSize);
    const quint32 tablePos = headerSize + quint32(body.size() + padding.size());
    put32(headers, 0x40 + 0x98, certificateTable.isEmpty() ? 0 : tablePos);
    put32(headers, 0x40 + 0x9C, quint32(certificateTable.size()));
    return headers + body + padding + certificateTable;
}

QString keyPath(const QString& name)
{
    return TestPaths::sourceDir() + "/tests/keys/" + name;
}

QString ztxPath()
{
    return TestPaths::binaryDir() + "/bin/ztx";
}

QString makeKeyBlocksPath()
{
    return TestPaths::binaryDir() + "/bin/make-key-blocks";
}

Run run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

QByteArray sign(const QString& privateKeyPath, const QByteArray& data, const char* digest, bool pss)
{
    const QByteArray text = FileTools::readFile(privateKeyPath);
    const OpenSslPointer<BIO> bio(BIO_new_mem_buf(text.constData(), text.size()));
    const OpenSslPointer<EVP_PKEY> key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    QByteArray signature;
    const OpenSslPointer<EVP_MD_CTX> context(EVP_MD_CTX_new());
    EVP_PKEY_CTX* keyContext = nullptr;
    size_t length = 0;
    if (key && EVP_DigestSignInit_ex(context.get(), &keyContext, digest, nullptr, nullptr, key.get(), nullptr) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(keyContext, pss ? RSA_PKCS1_PSS_PADDING : RSA_PKCS1_PADDING) == 1 &&
        EVP_DigestSignUpdate(context.get(), data.constData(), size_t(data.size())) == 1 &&
        EVP_DigestSignFinal(context.get(), nullptr, &length) == 1) {
        signature.resize(int(length));
        if (EVP_DigestSignFinal(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length) != 1)
            signature.clear();
    }
    return signature;
}

QByteArray signedPackage(const QByteArray& archive)
{
    const QByteArray signature = sign(keyPath(QStringLiteral("test-private.pem")), archive);
    return signature.isEmpty() ? QByteArray() : archive + trailer(signature);
}

} // namespace VerificationSupport

ModuleToolsCapture::ModuleToolsCapture()
    : m_appender(new log4cpp::StringQueueAppender("ModuleToolsCapture"))
{
    auto* layout = new log4cpp::PatternLayout();
    layout->setConversionPattern("%p %m");
    m_appender->setLayout(layout);
    log4cpp::Category& category = ModuleToolsLogger::instance().category;
    category.addAppender(m_appender);
}

ModuleToolsCapture::~ModuleToolsCapture()
{
    // The category owns and deletes the appender.
    ModuleToolsLogger::instance().category.removeAppender(m_appender);
}

QStringList ModuleToolsCapture::take()
{
    std::queue<std::string>& queue = m_appender->getQueue();
    while (!queue.empty()) {
        m_lines << QString::fromStdString(queue.front());
        queue.pop();
    }
    return std::exchange(m_lines, QStringList());
}
