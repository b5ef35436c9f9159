// The installing flows: Update, UpdateFromData and their common tail.

#include "CDefaultLibrary.h"

#include <QDir>

#include "Base64Data.h"
#include "installation/InstallationTransaction.h"
#include "module/FaultInjection.h"
#include "logging/Log.h"
#include "module/ResultTexts.h"

#include <updater/updater.h>

namespace {

// Bytes of the package decoded at a time by UpdateFromData.
const qint64 kDecodedPieceSize = 64 * 1024;

} // namespace

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
            if (!writeToTempFile(piece.constData(), length)) {
                LOG_UPDATER(WARN) << "CDefaultLibrary::UpdateFromData :: Writing the temporary file failed: "
                                  << m_tempFile.errorString();
                m_fileWriteFailed = true;
                break;
            }
        }
    } else {
        LOG_UPDATER(INFO) << "CDefaultLibrary::UpdateFromData :: Data is oversized. File size = " << size
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
