// The installing flows: Update, UpdateFromData and their common tail.

#include "CDefaultLibrary.h"

#include <QDir>

#include "Base64Data.h"
#include "UpdateCancel.h"
#include "download/ProxySettings.h"
#include "module/FaultInjection.h"
#include "logging/Log.h"
#include "module/ResultTexts.h"

#include <updater/updater.h>

namespace {

// Bytes of the package decoded at a time by UpdateFromData.
const qint64 kDecodedPieceSize = 64 * 1024;

} // namespace

// One installing call at a time in the process: a second one, from the
// host's progress slot or from another thread, changes nothing.
bool CDefaultLibrary::startInstallingCall(bool acquired, const char* flow, const QMap<QByteArray, QVariant>& context)
{
    if (!acquired) {
        LOG_UPDATER(WARN) << flow << " :: Another Update or UpdateFromData is running in this process; this call "
                                     "returns at once and changes nothing.";
        m_result = ResultTexts::operationAborted();
        return false;
    }
    UpdateCancel::reset();
    m_progress = UpdateProgress(context);
    return true;
}

QByteArray CDefaultLibrary::Update(const QMap<QByteArray, QByteArray>& request,
                                   const QMap<QByteArray, QVariant>& context)
{
    const UpdateCancel::Running running;
    if (!startInstallingCall(running.acquired(), "CDefaultLibrary::Update", context))
        return m_result.serialize();
    recoverInterruptedInstallations();
    if (downloadIntoTempFile(request))
        finalizeUpdate();
    // A package written where downloads are kept goes now; so does
    // "UPDATES" when the download made it and no installation used it.
    m_download.finish(m_installation.wasUsed());
    return m_result.serialize();
}

QByteArray CDefaultLibrary::UpdateFromData(const QMap<QByteArray, QByteArray>& request,
                                           const QMap<QByteArray, QVariant>& context)
{
    const UpdateCancel::Running running;
    if (!startInstallingCall(running.acquired(), "CDefaultLibrary::UpdateFromData", context))
        return m_result.serialize();
    LOG_UPDATER(INFO) << "CDefaultLibrary::UpdateFromData :: Started update ZTX package";
    recoverInterruptedInstallations();
    if (writeDataIntoTempFile(request))
        finalizeUpdate();
    return m_result.serialize();
}

// The log lines of the two halves below name the flow they belong to.
bool CDefaultLibrary::downloadIntoTempFile(const QMap<QByteArray, QByteArray>& request)
{
    setUpdateParametersFromRequest(request);
    if (!verifyDownloadFileUrl() || !verifyRequestValues(request, "CDefaultLibrary::Update")
        || !openTempFile("CDefaultLibrary::Update"))
        return false;
    downloadFile(request.value("proxySettings", QByteArray()));
    m_packageFile.close();
    return !cancelRequested("CDefaultLibrary::Update");
}

bool CDefaultLibrary::writeDataIntoTempFile(const QMap<QByteArray, QByteArray>& request)
{
    if (!verifyRequestValues(request, "CDefaultLibrary::UpdateFromData")
        || !openTempFile("CDefaultLibrary::UpdateFromData"))
        return false;

    // The host's text is decoded piece by piece straight into the file:
    // besides the text itself, only one piece is held at a time.
    const QByteArray text = request.value("data", QByteArray());
    Base64Data decoded(text);
    const qint64 size = decoded.size();
    if (text.isEmpty()) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::UpdateFromData :: Data is empty: the request has no \"data\".";
    } else if (decoded.alphabet() == Base64Data::NotBase64) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::UpdateFromData :: Data is not Base64 (in neither the URL-safe nor "
                             "the standard alphabet); decoded as URL-safe, skipping what does not belong: "
                          << size << " bytes.";
    } else if (size == 0) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::UpdateFromData :: Data is empty: \"data\" decodes to no bytes.";
    } else {
        LOG_UPDATER(INFO) << "CDefaultLibrary::UpdateFromData :: Data is Base64 in the "
                          << (decoded.alphabet() == Base64Data::Standard ? "standard" : "URL-safe")
                          << " alphabet: " << size << " bytes.";
    }
    if (size <= updater::MaxPackageSize) {
        QByteArray piece(int(qMin<qint64>(size, kDecodedPieceSize)), Qt::Uninitialized);
        for (int length; (length = decoded.read(piece.data(), piece.size())) > 0;) {
            if (!m_packageFile.write(piece.constData(), length)) {
                LOG_UPDATER(WARN) << "CDefaultLibrary::UpdateFromData :: Writing the temporary file failed: "
                                  << m_packageFile.errorString();
                break;
            }
        }
    } else {
        LOG_UPDATER(INFO) << "CDefaultLibrary::UpdateFromData :: Data is oversized. File size = " << size
                          << " bytes.";
        m_fileOversized = true;
        emit fileIsOversized();
    }
    m_packageFile.close();
    return true;
}

bool CDefaultLibrary::openTempFile(const char* flow)
{
    if (m_packageFile.open())
        return true;
    LOG_UPDATER(WARN) << flow << " :: Temporary file cannot be created in " << QDir::tempPath() << ": "
                      << m_packageFile.errorString();
    m_result = ResultTexts::fileSystemError();
    return false;
}

// Neither value is logged: a "proxySettings" that is not hex may be the
// proxy text itself, password and all.
bool CDefaultLibrary::verifyRequestValues(const QMap<QByteArray, QByteArray>& request, const char* flow)
{
    const QByteArray sha256 = request.value("sha256", QByteArray());
    if (!sha256.isEmpty() && !PackageFile::isSha256Text(sha256)) {
        LOG_UPDATER(WARN) << flow << " :: Invalid request: \"sha256\" is not 64 hexadecimal digits; nothing was "
                                     "downloaded or installed.";
        m_result = ResultTexts::insufficientParameters(QStringLiteral("sha256 is not 64 hexadecimal digits"));
        return false;
    }
    m_packageFile.setExpectedSha256(sha256);
    if (!ProxySettings::isTransportForm(request.value("proxySettings", QByteArray()))) {
        LOG_UPDATER(WARN) << flow << " :: Invalid request: \"proxySettings\" is not hexadecimal text; nothing was "
                                     "downloaded or installed.";
        m_result = ResultTexts::insufficientParameters(QStringLiteral("proxySettings is not hexadecimal"));
        return false;
    }
    return true;
}

bool CDefaultLibrary::cancelRequested(const char* flow)
{
    if (!UpdateCancel::isRequested() && !m_download.cancelled())
        return false;
    endAsCancelled(flow);
    return true;
}

void CDefaultLibrary::endAsCancelled(const char* flow)
{
    LOG_UPDATER(NOTICE) << flow << " :: Operation cancelled by the host; nothing was installed.";
    m_result = ResultTexts::operationAborted();
}

// The temporary file was closed by the first half of the flow: a write that
// only failed on closing has left its error on the file for
// handleDownloadErrors.
bool CDefaultLibrary::finalizeUpdate()
{
    if (!finalzieDownload())
        return false;
    if (cancelRequested("CDefaultLibrary::finalizeUpdate"))
        return false;

    if (installPackage()) {
        m_result = ResultTexts::fileUpdated();
        return true;
    }
    if (m_installation.wasCancelled()) {
        endAsCancelled("CDefaultLibrary::finalizeUpdate");
        return false;
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
        if (m_installation.cancelCameTooLate())
            LOG_UPDATER(NOTICE) << "CDefaultLibrary::installPackage :: The host asked to cancel after the commit "
                                   "point: the installation is completed.";
        m_installation.finish();
        UPDATER_FAULT_POINT("install.finished");
    }
    releaseInstallationFolder();
    return installed;
}

// A package put together from more than one answer that fails either check
// may be a damaged or planted partial download: it costs one more download
// from the first byte, not a failed update.
bool CDefaultLibrary::finalzieDownload()
{
    if (!handleDownloadErrors())
        return false;
    if (!verifyPackage()) {
        if (!m_download.resumed() || !downloadAgainFromStart() || cancelRequested("CDefaultLibrary::finalzieDownload"))
            return false;
        if (!handleDownloadErrors() || !verifyPackage())
            return false;
    }
    LOG_UPDATER(NOTICE) << "CDefaultLibrary::finalzieDownload :: Downloaded file verified.";
    return true;
}

bool CDefaultLibrary::verifyPackage()
{
    m_progress.begin(QStringLiteral("verify"), m_packageFile.size());
    const bool verified = verifyExpectedHash() && verifyDownloadedFile();
    m_progress.advance(m_packageFile.size());
    m_progress.end();
    return verified;
}
