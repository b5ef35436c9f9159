// The installing flows: Update, UpdateFromData and their common tail.

#include "CDefaultLibrary.h"

#include <QDir>

#include "Base64Data.h"
#include "installation/InstallationTransaction.h"
#include "module/FaultInjection.h"
#include "logging/Log.h"
#include "module/ResultTexts.h"

#include <updater/updater.h>

QByteArray CDefaultLibrary::Update(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>&)
{
    recoverInterruptedInstallations();
    m_expectedSha256 = request.value("sha256", QByteArray());
    if (downloadIntoTempFile(request))
        finalizeUpdate();
    return m_result.serialize();
}

QByteArray CDefaultLibrary::UpdateFromData(const QMap<QByteArray, QByteArray>& request,
                                           const QMap<QByteArray, QVariant>&)
{
    LOG_UPDATER(INFO) << "CDefaultLibrary::UpdateFromData :: Started update ZTX package";
    recoverInterruptedInstallations();
    m_expectedSha256 = request.value("sha256", QByteArray());
    if (writeDataIntoTempFile(request))
        finalizeUpdate();
    return m_result.serialize();
}

// The log lines of the two halves below name the flow they belong to.
bool CDefaultLibrary::downloadIntoTempFile(const QMap<QByteArray, QByteArray>& request)
{
    setUpdateParametersFromRequest(request);
    if (!verifyDownloadFileUrl() || !openTempFile("CDefaultLibrary::Update"))
        return false;
    downloadFile(request.value("proxySettings", QByteArray()));
    m_tempFile.close();
    return true;
}

bool CDefaultLibrary::writeDataIntoTempFile(const QMap<QByteArray, QByteArray>& request)
{
    if (!openTempFile("CDefaultLibrary::UpdateFromData"))
        return false;

    const QByteArray text = request.value("data", QByteArray());
    const Base64Data decoded = Base64Data::decode(text);
    const QByteArray data = decoded.bytes();
    if (text.isEmpty()) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::UpdateFromData :: Data is empty: the request has no \"data\".";
    } else if (decoded.alphabet() == Base64Data::NotBase64) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::UpdateFromData :: Data is not Base64 (in neither the URL-safe nor "
                             "the standard alphabet); decoded as URL-safe, skipping what does not belong: "
                          << data.size() << " bytes.";
    } else if (data.isEmpty()) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::UpdateFromData :: Data is empty: \"data\" decodes to no bytes.";
    } else {
        LOG_UPDATER(INFO) << "CDefaultLibrary::UpdateFromData :: Data is Base64 in the "
                          << (decoded.alphabet() == Base64Data::Standard ? "standard" : "URL-safe")
                          << " alphabet: " << data.size() << " bytes.";
    }
    if (data.size() <= updater::MaxPackageSize) {
        if (!writeToTempFile(data)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::UpdateFromData :: Writing the temporary file failed: "
                              << m_tempFile.errorString();
            m_fileWriteFailed = true;
        }
    } else {
        LOG_UPDATER(INFO) << "CDefaultLibrary::UpdateFromData :: Data is oversized. File size = " << data.size()
                          << " bytes.";
        m_fileOversized = true;
        emit fileIsOversized();
    }
    m_tempFile.close();
    return true;
}

bool CDefaultLibrary::openTempFile(const char* flow)
{
    if (m_tempFile.open())
        return true;
    LOG_UPDATER(WARN) << flow << " :: Temporary file cannot be created in " << QDir::tempPath() << ": "
                      << m_tempFile.errorString();
    m_result = ResultTexts::fileSystemError();
    return false;
}

// The temporary file was closed by the first half of the flow: a write that
// only failed on closing has left its error on the file for
// handleDownloadErrors.
bool CDefaultLibrary::finalizeUpdate()
{
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
// its old files are cleared away; an installation that did not reach its
// commit point is rolled back when it is released.
bool CDefaultLibrary::installPackage()
{
    const bool installed = replaceFileByUpdateType();
    if (installed) {
        tryRemoveAllOldFiles();
        m_transaction->finish();
        UPDATER_FAULT_POINT("install.finished");
    }
    releaseInstallationFolder();
    return installed;
}

bool CDefaultLibrary::finalzieDownload()
{
    if (!handleDownloadErrors())
        return false;
    if (!verifyExpectedHash())
        return false;
    if (!verifyDownloadedFile())
        return false;
    LOG_UPDATER(NOTICE) << "CDefaultLibrary::finalzieDownload :: Downloaded file verified.";
    return true;
}
