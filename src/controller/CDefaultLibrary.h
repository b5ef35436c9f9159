#ifndef CDEFAULTLIBRARY_H
#define CDEFAULTLIBRARY_H

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QObject>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>

#include <memory>

#include "module/DllResultBasic.h"
#include "verification/PackageDigest.h"

class CProxySettings;
class InstallationTransaction;

// The controller behind one exported work call: it holds the whole state of
// one update (temporary file, network objects, download flags, URL and the
// current result) and runs exactly one flow. The exports create one on the
// stack per call.
//
// The class is internal to the library. Only the flows are public; the
// module's tests and benchmarks reach single steps and the state through
// CDefaultLibraryTestAccess (CDefaultLibraryTestAccess.h) and nothing else.
class CDefaultLibrary : public QObject
{
    Q_OBJECT

public:
    explicit CDefaultLibrary(QObject* parent = nullptr);
    ~CDefaultLibrary() override;

    // The four flows, one per work export.
    virtual QByteArray Update(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>& context);
    virtual QByteArray UpdateFromData(const QMap<QByteArray, QByteArray>& request,
                                      const QMap<QByteArray, QVariant>& context);
    virtual QByteArray ShowConnectionWarning(const QMap<QByteArray, QByteArray>& request,
                                             const QMap<QByteArray, QVariant>& context);
    virtual QByteArray GetModuleVersion(const QMap<QByteArray, QByteArray>& request,
                                        const QMap<QByteArray, QVariant>& context);

signals:
    void fileIsOversized();

private slots:
    void checkContentLengthHeaderSize();
    void logReplyStatusCode();
    void saveDataFromReplyToFile();
    void handleSSLError(QSslError error);
    void handleSSLErrors(QList<QSslError> errors);
    void handleNetworkError(QNetworkReply::NetworkError networkError);

private:
    friend class CDefaultLibraryTestAccess;

    // Request and parameters.
    void setUpdateParametersFromRequest(const QMap<QByteArray, QByteArray>& request);
    void setUpdateParametersFromRequestForWindows(const QMap<QByteArray, QByteArray>& request);
    bool verifyDownloadFileUrl();
    QString getLanguageSuffix(const QMap<QByteArray, QVariant>& context);

    // The first halves of the installing flows: each leaves the package in
    // the temporary file, closed, and what went wrong in the flags for
    // handleDownloadErrors. False, with the result set, when there is no
    // package to judge (no valid URL, no temporary file).
    bool downloadIntoTempFile(const QMap<QByteArray, QByteArray>& request);
    bool writeDataIntoTempFile(const QMap<QByteArray, QByteArray>& request);
    bool openTempFile(const char* flow);

    // Common tail of the installing flows.
    bool finalizeUpdate();
    bool finalzieDownload();
    // Installs the verified package held in m_tempFile (closed) into the
    // current directory and clears away the old files; true when installed.
    bool installPackage();

    // Download.
    void downloadFile(QByteArray proxySettingsData);
    // Appends to the temporary file and to m_packageDigest: every byte of
    // the package goes through here.
    bool writeToTempFile(const char* data, qint64 size);
    bool handleDownloadErrors();
    void handleNetworkProxyErrors();
    void handleConnectionErrors();
    void handleFileIsOversizedError();
    void setProxy(QByteArray proxySettingsData);
    QNetworkProxy createNetworkProxyFromProxySettingsData(QByteArray proxySettingsData);

    // Verification.
    bool verifyExpectedHash();
    bool verifyDownloadedFile();
    // m_packageDigest, once it is known to be that of the closed temporary
    // file: a file that was not filled through writeToTempFile (the module's
    // tests fill it themselves) is read once to make it so. Null, with the
    // reason in error, when the file cannot be read.
    const PackageDigest* tempFileDigest(QString& error);

    // Installation.
    bool replaceFileByUpdateType();
    bool replaceFiles(QDir unpackDir, QStringList filePaths);
    QStringList removeDirsFromList(QStringList paths);
    bool addOldSuffixToFilesName(QStringList relativePaths, QString runStamp);
    bool copyNewFiles(QDir unpackDir, QStringList relativePaths);
    bool revertOldFiles(QStringList relativePaths, QString runStamp);
    void tryRemoveAllOldFiles();
    QStringList createListOfOldFilesInDirectoryRecursive(QDir directory);

    // Crash safety of the installation: one installation at a time per
    // installation folder, and the roll-back of installations that were
    // interrupted (process killed, power cut) before their commit point.
    void recoverInterruptedInstallations();
    bool lockInstallationFolder();
    void releaseInstallationFolder();

    // Connection warning.
    QByteArray getProxySettingsFromUser();
    QByteArray createProxySettingsDataFromDialog(CProxySettings& dialog);

    QTemporaryFile m_tempFile;
    // The manager and the reply of the download. The reply is declared
    // after its manager, so that it goes first.
    std::unique_ptr<QNetworkAccessManager> m_NetManager;
    std::unique_ptr<QNetworkReply> m_reply;
    bool m_networkError;
    bool m_fileOversized;
    QByteArray m_downloadFileUrl;
    int m_networkErrorCode;
    DllResultBasic m_result;
    // Bytes of the body received so far; held to the size limit whatever
    // length the server announced.
    qint64 m_downloadedSize;
    // A chunk of the body could not be written to the temporary file.
    bool m_fileWriteFailed;
    // The text of a download error that the module found itself (a refused
    // redirect), for the result in place of the reply's error text; empty
    // for Qt's own errors.
    QString m_networkErrorText;
    // The installation under way: its lock, journal and the files it put
    // in place. Rolls back what was not committed when it goes.
    std::unique_ptr<InstallationTransaction> m_transaction;
    // The request's "sha256": the SHA-256 that the whole package must have,
    // in hexadecimal; empty when the host gave none.
    QByteArray m_expectedSha256;
    // SHA-256 of the bytes written to m_tempFile, computed as they are
    // written, so that verification does not read the package again.
    PackageDigest m_packageDigest;
};

#endif
