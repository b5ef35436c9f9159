// HTTPS download of the package into the temporary file.
//
// downloadFile runs the download (PackageDownload) until the answer with the
// package is in (after following the redirects before it, and resuming a
// connection that dropped), a redirect is refused, the file turns out to be
// oversized, nothing has arrived for ten seconds, the download has run for
// fifteen minutes, or the host cancels it. It only records what happened
// (flags and error code); handleDownloadErrors turns that into a result
// afterwards.

#include "controller/CDefaultLibrary.h"

#include <QNetworkRequest>
#include <QUrl>

#include <updater/updater.h>

#include "RedirectChain.h"
#include "logging/Log.h"
#include "module/ResultTexts.h"

void CDefaultLibrary::downloadFile(QByteArray proxySettingsData)
{
    // A reply from an earlier download goes before the manager it belongs to.
    m_reply.reset();
    m_NetManager = std::make_unique<QNetworkAccessManager>();

    setProxy(proxySettingsData);
    runDownload(PackageDownload::Resume);
}

// Both downloads of a call log as downloadFile.
void CDefaultLibrary::runDownload(PackageDownload::Start start)
{
    LOG_UPDATER(NOTICE) << "CDefaultLibrary::downloadFile :: Downloading file [" << m_downloadFileUrl.constData()
                        << "] started";
    m_download.run(QUrl(QString::fromUtf8(m_downloadFileUrl), QUrl::TolerantMode), start);
    LOG_UPDATER(NOTICE) << "CDefaultLibrary::downloadFile :: Downloading file [" << m_downloadFileUrl.constData()
                        << "] finished";
}

bool CDefaultLibrary::downloadAgainFromStart()
{
    LOG_UPDATER(NOTICE) << "CDefaultLibrary::downloadAgainFromStart :: The package was put together from more than "
                           "one answer and failed verification: it is downloaded once more from its first byte.";
    m_networkError = false;
    m_fileOversized = false;
    m_networkErrorCode = 0;
    if (!m_packageFile.open()) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::downloadAgainFromStart :: The temporary file cannot be opened again: "
                          << m_packageFile.errorString();
        m_result = ResultTexts::fileSystemError();
        return false;
    }
    runDownload(PackageDownload::FromStart);
    m_packageFile.close();
    return true;
}

void CDefaultLibrary::saveDataFromReplyToFile()
{
    if (!m_reply || m_reply->bytesAvailable() <= 0)
        return;

    // readAll hands over the reply's own chunk; reading into a buffer kept
    // for the whole download was measured no faster (bench/download/run.sh).
    const QByteArray data = m_reply->readAll();
    LOG_UPDATER(INFO) << "CDefaultLibrary::saveDataFromReplyToFile :: New data received. Size=" << data.size();

    switch (m_download.store(data)) {
    case PackageDownload::Written:
    case PackageDownload::Ignored:
        return;
    case PackageDownload::NotPackage:
        // The body of a redirect (or of any other 3xx answer) is never part
        // of the package.
        LOG_UPDATER(INFO) << "CDefaultLibrary::saveDataFromReplyToFile :: Not stored: the body of a "
                          << m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() << " answer.";
        return;
    case PackageDownload::Oversized:
        LOG_UPDATER(INFO) << "CDefaultLibrary::saveDataFromReplyToFile :: File is oversized. Received size = "
                          << m_download.receivedSize() << " bytes.";
        m_fileOversized = true;
        emit fileIsOversized();
        return;
    case PackageDownload::WriteFailed:
        LOG_UPDATER(WARN) << "CDefaultLibrary::saveDataFromReplyToFile :: Writing the temporary file failed: "
                          << m_packageFile.errorString();
        return;
    }
}

void CDefaultLibrary::logReplyStatusCode()
{
    if (!m_reply)
        return;
    const QVariant statusCode = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (statusCode.isValid()) {
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::logReplyStatusCode :: reply status code=" << statusCode.toInt();
    } else {
        LOG_UPDATER(WARN) << "CDefaultLibrary::logReplyStatusCode :: statusCode QVariant for reply is not valid!";
    }
}

void CDefaultLibrary::checkContentLengthHeaderSize()
{
    if (!m_reply)
        return;
    const qint64 size = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (size <= updater::MaxPackageSize) {
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::checkContentLengthHeaderSize :: File size = " << size;
        return;
    }
    LOG_UPDATER(INFO) << "CDefaultLibrary::checkContentLengthHeaderSize :: File is oversized. File size = " << size
                      << " bytes.";
    m_fileOversized = true;
    emit fileIsOversized();
}
