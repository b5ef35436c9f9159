// HTTPS download of the package into the temporary file.
//
// downloadFile runs a local event loop until the answer with the package is
// in (after following the redirects before it), a redirect is refused, the
// file turns out to be oversized, nothing has arrived for ten seconds, or the
// download has run for fifteen minutes. It only records what happened (flags
// and error code); handleDownloadErrors turns that into a result afterwards.

#include "controller/CDefaultLibrary.h"

#include <QEventLoop>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <functional>

#include <updater/updater.h>

#include "RedirectChain.h"
#include "UserAgent.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"

namespace {

// Silence on the connection longer than this ends the download.
const int kInactivityTimeoutMs = 10000;
// Longest a download may take however steadily data arrives: a server that
// trickles a byte now and then would otherwise hold the call for days.
const int kDownloadDurationLimitMs = 15 * 60 * 1000;
// Most of the body held in memory at a time. Chosen by measurement
// (bench/download/run.sh compares sizes): 32 to 64 KiB download fastest here,
// 128 KiB and more are slower and hold more memory.
const qint64 kReadBufferSize = 64 * 1024;

} // namespace

void CDefaultLibrary::downloadFile(QByteArray proxySettingsData)
{
    // A reply from an earlier download goes before the manager it belongs to.
    m_reply.reset();
    m_NetManager = std::make_unique<QNetworkAccessManager>();

    setProxy(proxySettingsData);

    const QUrl url(QString::fromUtf8(m_downloadFileUrl), QUrl::TolerantMode);

    LOG_UPDATER(NOTICE) << "CDefaultLibrary::downloadFile :: Downloading file [" << m_downloadFileUrl.constData()
                        << "] started";

    QTimer timer;
    timer.setInterval(kInactivityTimeoutMs);
    // A coarse timer may fire up to 5 % early; the limit is ten full seconds.
    timer.setTimerType(Qt::PreciseTimer);
    const int durationLimitMs = int(UPDATER_LIMIT("download_duration_ms", kDownloadDurationLimitMs));
    QTimer durationTimer;
    durationTimer.setSingleShot(true);
    durationTimer.setInterval(durationLimitMs);
    durationTimer.setTimerType(Qt::PreciseTimer);
    QEventLoop loop;

    connect(this, SIGNAL(fileIsOversized()), &loop, SLOT(quit()));
    // Either limit ends the download as timed out; the second line says which.
    const auto endAsTimedOut = [this, &loop](const char* handler, const QString& limit) {
        m_networkErrorCode = QNetworkReply::TimeoutError;
        m_networkError = true;
        LOG_UPDATER(WARN) << "CDefaultLibrary::downloadFile::" << handler << " :: Connection error occurred: ["
                          << m_networkErrorCode << "][Connection timed out]";
        LOG_UPDATER(WARN) << "CDefaultLibrary::downloadFile::" << handler << " :: " << limit;
        loop.quit();
    };
    connect(
        &timer, &QTimer::timeout, &timer,
        [&endAsTimedOut]() {
            endAsTimedOut("timeoutHandler", QStringLiteral("No data received for %1 s: inactivity limit reached.")
                                                .arg(kInactivityTimeoutMs / 1000));
        },
        Qt::DirectConnection);
    connect(
        &durationTimer, &QTimer::timeout, &durationTimer,
        [&endAsTimedOut, durationLimitMs]() {
            endAsTimedOut("durationHandler",
                          QStringLiteral("Download still running after %1 s: download time limit reached.")
                              .arg(durationLimitMs / 1000.0));
        },
        Qt::DirectConnection);

    // Redirects are followed here, one GET per answer, rather than by Qt:
    // every target is checked before it is asked for, and Qt 5.15's own
    // following was seen to end a same-host chain with an empty reply and to
    // deliver a cross-host body twice. The limits and timers above cover the
    // whole chain.
    RedirectChain redirects(url);
    std::function<void(const QUrl&)> send;
    // The answer of the current reply is in: the download ends, unless it is
    // a redirect to follow.
    const auto answered = [this, &loop, &redirects, &send]() {
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (m_networkError || m_fileOversized || !RedirectChain::is3xx(status)) {
            loop.quit();
            return;
        }
        const QUrl from = m_reply->url();
        const QUrl location = m_reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (!redirects.follow(from, status, location)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::downloadFile::redirectHandler :: Redirect refused at hop "
                              << redirects.hops() << ": " << redirects.errorText();
            m_networkErrorCode = redirects.errorCode();
            m_networkError = true;
            m_networkErrorText = redirects.errorText();
            loop.quit();
            return;
        }
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::downloadFile::redirectHandler :: Following redirect "
                            << redirects.hops() << " of at most " << RedirectChain::MaxHops << ": "
                            << from.toDisplayString() << " answered " << status << " with "
                            << redirects.target().toDisplayString();
        send(redirects.target());
    };
    send = [this, &loop, &timer, &answered](const QUrl& target) {
        // The answered reply sent the signal that got us here: it goes once
        // that is over.
        if (m_reply) {
            QNetworkReply* previous = m_reply.release();
            disconnect(previous, nullptr, this, nullptr);
            disconnect(previous, nullptr, &loop, nullptr);
            disconnect(previous, nullptr, &timer, nullptr);
            previous->deleteLater();
        }
        QNetworkRequest request(target);
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
        m_reply.reset(m_NetManager->get(request));
        // Qt's network thread would otherwise buffer as much as the server
        // sends ahead of us; with a bound it waits until the file has taken it.
        m_reply->setReadBufferSize(UPDATER_LIMIT("download_read_buffer", kReadBufferSize));
        // Certificate problems do not stop the transfer: they are logged by
        // handleSSLErrors, and the package's signature decides afterwards.
        m_reply->ignoreSslErrors();

        QNetworkReply* reply = m_reply.get();
        connect(reply, &QNetworkReply::finished, &loop, answered);
        connect(reply, SIGNAL(readyRead()), this, SLOT(saveDataFromReplyToFile()));
        // The status is logged before the size is judged.
        connect(reply, SIGNAL(metaDataChanged()), this, SLOT(logReplyStatusCode()));
        connect(reply, SIGNAL(metaDataChanged()), this, SLOT(checkContentLengthHeaderSize()));
        connect(reply, SIGNAL(error(QNetworkReply::NetworkError)), this,
                SLOT(handleNetworkError(QNetworkReply::NetworkError)));
        connect(reply, SIGNAL(sslErrors(QList<QSslError>)), this, SLOT(handleSSLErrors(QList<QSslError>)));
        // Bound to the timer, so it is disconnected when this call returns
        // even though the reply lives on.
        connect(
            reply, &QNetworkReply::downloadProgress, &timer,
            [&timer](qint64, qint64) {
                LOG_UPDATER(INFO) << "CDefaultLibrary::downloadFile::progressHandler :: Restarting QTimer";
                timer.start();
            },
            Qt::DirectConnection);
    };
    send(url);

    timer.start();
    durationTimer.start();
    loop.exec(QEventLoop::AllEvents);
    timer.stop();
    durationTimer.stop();

    LOG_UPDATER(NOTICE) << "CDefaultLibrary::downloadFile :: Downloading file [" << m_downloadFileUrl.constData()
                        << "] finished";
}

void CDefaultLibrary::saveDataFromReplyToFile()
{
    if (!m_reply || m_reply->bytesAvailable() <= 0)
        return;

    // readAll hands over the reply's own chunk; reading into a buffer kept
    // for the whole download was measured no faster (bench/download/run.sh).
    const QByteArray data = m_reply->readAll();
    LOG_UPDATER(INFO) << "CDefaultLibrary::saveDataFromReplyToFile :: New data received. Size=" << data.size();

    // The body of a redirect (or of any other 3xx answer) is never part of
    // the package.
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (RedirectChain::is3xx(status)) {
        LOG_UPDATER(INFO) << "CDefaultLibrary::saveDataFromReplyToFile :: Not stored: the body of a " << status
                          << " answer.";
        return;
    }

    // The announced length can be missing or wrong: the bytes that actually
    // arrive are held to the same limit, and nothing past it is stored.
    if (m_fileOversized)
        return;
    m_downloadedSize += data.size();
    if (m_downloadedSize > updater::MaxPackageSize) {
        LOG_UPDATER(INFO) << "CDefaultLibrary::saveDataFromReplyToFile :: File is oversized. Received size = "
                          << m_downloadedSize << " bytes.";
        m_fileOversized = true;
        emit fileIsOversized();
        return;
    }

    // After a failed write the file is incomplete: nothing more goes in, and
    // the download is judged a file system error.
    if (m_fileWriteFailed)
        return;
    if (!writeToTempFile(data.constData(), data.size())) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::saveDataFromReplyToFile :: Writing the temporary file failed: "
                          << m_tempFile.errorString();
        m_fileWriteFailed = true;
    }
}

bool CDefaultLibrary::writeToTempFile(const char* data, qint64 size)
{
    // A write that fills the disk stores what fits and returns that much
    // without an error; the next one fails and leaves the system's reason
    // ("No space left on device") in the file's error string. The digest
    // takes exactly what the file took.
    qint64 written = 0;
    while (written < size) {
        const qint64 now = m_tempFile.write(data + written, size - written);
        if (now <= 0)
            return false;
        m_packageDigest.add(data + written, now);
        written += now;
    }
    return true;
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
