#ifndef CDEFAULTLIBRARYTESTACCESS_H
#define CDEFAULTLIBRARYTESTACCESS_H

#include "CDefaultLibrary.h"

// The one way into a controller's steps and state for the module's tests and
// benchmarks: each step on its own, the members it reads or leaves behind.
// Nothing in the module itself uses it.
class CDefaultLibraryTestAccess
{
public:
    explicit CDefaultLibraryTestAccess(CDefaultLibrary& library)
        : m_library(library)
    {
    }

    // State.
    QTemporaryFile& tempFile() const { return m_library.m_tempFile; }
    // Where the package is: the temporary file, or where a download that
    // can be resumed was written.
    PackageFile& packageFile() const { return m_library.m_packageFile; }
    std::unique_ptr<QNetworkAccessManager>& netManager() const { return m_library.m_NetManager; }
    bool& networkError() const { return m_library.m_networkError; }
    bool& fileOversized() const { return m_library.m_fileOversized; }
    const QByteArray& downloadFileUrl() const { return m_library.m_downloadFileUrl; }
    int& networkErrorCode() const { return m_library.m_networkErrorCode; }
    const DllResultBasic& result() const { return m_library.m_result; }

    // Request and parameters.
    void setUpdateParametersFromRequest(const QMap<QByteArray, QByteArray>& request) const
    {
        m_library.setUpdateParametersFromRequest(request);
    }
    bool verifyDownloadFileUrl() const { return m_library.verifyDownloadFileUrl(); }
    QString getLanguageSuffix(const QMap<QByteArray, QVariant>& context) const
    {
        return m_library.getLanguageSuffix(context);
    }

    // The first halves of Update and UpdateFromData.
    bool downloadIntoTempFile(const QMap<QByteArray, QByteArray>& request) const
    {
        return m_library.downloadIntoTempFile(request);
    }
    bool writeDataIntoTempFile(const QMap<QByteArray, QByteArray>& request) const
    {
        return m_library.writeDataIntoTempFile(request);
    }

    // Download.
    bool writeToTempFile(const QByteArray& data) const
    {
        return m_library.m_packageFile.write(data.constData(), data.size());
    }
    bool handleDownloadErrors() const { return m_library.handleDownloadErrors(); }
    void handleNetworkError(QNetworkReply::NetworkError networkError) const
    {
        m_library.handleNetworkError(networkError);
    }
    void handleSSLErrors(const QList<QSslError>& errors) const { m_library.handleSSLErrors(errors); }
    void setProxy(const QByteArray& proxySettingsData) const { m_library.setProxy(proxySettingsData); }
    QNetworkProxy createNetworkProxyFromProxySettingsData(const QByteArray& proxySettingsData) const
    {
        return m_library.createNetworkProxyFromProxySettingsData(proxySettingsData);
    }

    // Verification.
    bool verifyDownloadedFile() const { return m_library.verifyDownloadedFile(); }

    // Installation.
    bool installPackage() const { return m_library.installPackage(); }
    void recoverInterruptedInstallations() const { m_library.recoverInterruptedInstallations(); }
    void tryRemoveAllOldFiles() const { m_library.tryRemoveAllOldFiles(); }
    QStringList createListOfOldFilesInDirectoryRecursive(const QDir& directory) const
    {
        return m_library.createListOfOldFilesInDirectoryRecursive(directory);
    }

private:
    CDefaultLibrary& m_library;
};

#endif
