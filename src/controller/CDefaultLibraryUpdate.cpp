// The installing flows: Update, UpdateFromData and their common tail.

#include "CDefaultLibrary.h"

#include "logging/Log.h"
#include "module/ResultTexts.h"

#include <updater/updater.h>

QByteArray CDefaultLibrary::Update(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>&)
{
    recoverInterruptedInstallations();
    setUpdateParametersFromRequest(request);
    if (verifyDownloadFileUrl()) {
        if (!m_tempFile.open()) {
            m_result = ResultTexts::fileSystemError();
        } else {
            downloadFile(request.value("proxySettings", QByteArray()));
            finalizeUpdate();
        }
    }
    return m_result.serialize();
}

QByteArray CDefaultLibrary::UpdateFromData(const QMap<QByteArray, QByteArray>& request,
                                           const QMap<QByteArray, QVariant>&)
{
    LOG_UPDATER(INFO) << "CDefaultLibrary::UpdateFromData :: Started update ZTX package";
    recoverInterruptedInstallations();
    if (!m_tempFile.open()) {
        m_result = ResultTexts::fileSystemError();
        return m_result.serialize();
    }

    const QByteArray data = QByteArray::fromBase64(request.value("data", QByteArray()), QByteArray::Base64UrlEncoding);
    if (data.size() <= updater::MaxPackageSize) {
        m_tempFile.write(data);
    } else {
        LOG_UPDATER(INFO) << "CDefaultLibrary::UpdateFromData :: Data is oversized. File size = " << data.size()
                          << " bytes.";
        m_fileOversized = true;
        emit fileIsOversized();
    }

    finalizeUpdate();
    return m_result.serialize();
}

bool CDefaultLibrary::finalizeUpdate()
{
    m_tempFile.close();
    if (!finalzieDownload())
        return false;

    if (installPackage()) {
        m_result = ResultTexts::fileUpdated();
        return true;
    }

    LOG_UPDATER(WARN) << "CDefaultLibrary::finalizeUpdate :: Failed to copy new file to destination folder!!!";
    m_result = ResultTexts::fileSystemError();
    return false;
}

// The installation folder stays locked from the installation's start until
// its old files are cleared away.
bool CDefaultLibrary::installPackage()
{
    const bool installed = replaceFileByUpdateType();
    if (installed)
        tryRemoveAllOldFiles();
    releaseInstallationFolder();
    return installed;
}

bool CDefaultLibrary::finalzieDownload()
{
    if (!handleDownloadErrors())
        return false;
    if (!verifyDownloadedFile())
        return false;
    LOG_UPDATER(NOTICE) << "CDefaultLibrary::finalzieDownload :: Downloaded file verified.";
    return true;
}
