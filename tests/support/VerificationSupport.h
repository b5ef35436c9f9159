#ifndef VERIFICATIONSUPPORT_H
#define VERIFICATIONSUPPORT_H

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace log4cpp {
class StringQueueAppender;
}

// Helpers of the verification tests: signed files built byte by byte, the
// ztx tool and the project's test keys.
namespace VerificationSupport {

// A signature trailer written field by field (both fields little-endian).
QByteArray trailer(
    qint64 signatureSizeField, const QByteArray& signature, qint64 extraDataSizeField, char marker = '\xFF');
// The trailer of a well-formed file for this signature.
QByteArray trailer(const QByteArray& signature);

// Stores a 32-bit little-endian value at offset.
void put32(QByteArray& bytes, int offset, quint32 value);

// A PE32-shaped image for the Authenticode form: headers of headerSize bytes
// ("MZ", e_lfanew 0x40, SizeOfHeaders, certificate table entry), then the
// body (module data + trailer), the padding and the certificate table. With
// an empty table the entry's size is 0.
QByteArray peImage(
    quint32 headerSize, const QByteArray& body, const QByteArray& padding, const QByteArray& certificateTable);

QString keyPath(const QString& name);
QString ztxPath();
QString makeKeyBlocksPath();

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};
Run run(const QString& program, const QStringList& arguments);

// Signature of data with a PEM private key, digest and padding of choice.
QByteArray sign(const QString& privateKeyPath, const QByteArray& data, const char* digest = "SHA256", bool pss = false);

// The zip archive signed with the project's test key as ztx signs packages
// (also archives ztx refuses, such as one without entries); empty when it
// cannot be signed.
QByteArray signedPackage(const QByteArray& archive);


} // namespace VerificationSupport

// Collects what the "moduleTools" category logs while it lives, as lines
// "PRIORITY text".
class ModuleToolsCapture
{
public:
    ModuleToolsCapture();
    ~ModuleToolsCapture();
    ModuleToolsCapture(const ModuleToolsCapture&) = delete;
    ModuleToolsCapture& operator=(const ModuleToolsCapture&) = delete;

    // The lines logged since the last call.
    QStringList take();

private:
    log4cpp::StringQueueAppender* m_appender;
    QStringList m_lines;
};

#endif
