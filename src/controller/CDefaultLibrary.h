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

#include "UpdateProgress.h"
#include "download/PackageDownload.h"
#include "installation/PackageInstallation.h"
#include "module/DllResultBasic.h"
#include "verification/PackageFile.h"

class CProxySettings;

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

    // Before anything else: false, with result 41, when another installing
    // call has the process (acquired false); else this call's cancel and
    // progress begin.
    bool startInstallingCall(bool acquired, const char* flow, const QMap<QByteArray, QVariant>& context);

    // The first halves of the installing flows: each leaves the package in
    // the temporary file, closed, and what went wrong in the flags for
    // handleDownloadErrors. False, with the result set, when there is no
    // package to judge (no valid URL, no temporary file).
    bool downloadIntoTempFile(const QMap<QByteArray, QByteArray>& request);
    bool writeDataIntoTempFile(const QMap<QByteArray, QByteArray>& request);
    bool openTempFile(const char* flow);
    // The request's "sha256" and "proxySettings", before anything is sent:
    // false, with result 42, when either is not what it must be.
    bool verifyRequestValues(const QMap<QByteArray, QByteArray>& request, const char* flow);
    // The host's CancelUpdate: true, with result 41 "operation aborted",
    // when it asked to stop.
    bool cancelRequested(const char* flow);
    // Result 41 and its log line, for a call the host cancelled.
    void endAsCancelled(const char* flow);

    // Common tail of the installing flows.
    bool finalizeUpdate();
    bool finalzieDownload();
    // Installs the verified package held in m_tempFile (closed) into the
    // current directory and clears away the old files; true when installed.
    bool installPackage();

    // Download.
    void downloadFile(QByteArray proxySettingsData);
    void runDownload(PackageDownload::Start start);
    // After a resumed package failed verification: the same URL once more,
    // from its first byte, on the same manager. False, with the result set,
    // when the temporary file cannot be emptied.
    bool downloadAgainFromStart();
    bool handleDownloadErrors();
    void handleNetworkProxyErrors();
    void handleConnectionErrors();
    void handleFileIsOversizedError();
    void setProxy(QByteArray proxySettingsData);
    QNetworkProxy createNetworkProxyFromProxySettingsData(QByteArray proxySettingsData);

    // Verification.
    bool verifyExpectedHash();
    bool verifyDownloadedFile();
    // Both checks, as the host's "verify" phase.
    bool verifyPackage();

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
    // Beyond these, the objects that own the rest of the call.
    // The host's progress receiver and its cancel, for this call.
    UpdateProgress m_progress;
    // The installation into the current folder, which it takes when the
    // call begins, and "UPDATES" (also for a kept download): the lock, the
    // transaction, the package's checks and unpacking. Rolls back what was
    // not committed when it goes.
    PackageInstallation m_installation;
    // The package in m_tempFile: its digest, taken as it is written, and the
    // request's "sha256".
    PackageFile m_packageFile;
    // The download into m_packageFile, on m_NetManager and m_reply.
    PackageDownload m_download;
};

#endif
