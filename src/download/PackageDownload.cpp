#include "PackageDownload.h"

#include <QDir>
#include <QEventLoop>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

#include <updater/updater.h>

#include "UserAgent.h"
#include "controller/UpdateCancel.h"
#include "controller/UpdateProgress.h"
#include "installation/UpdatesFolder.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"
#include "verification/PackageFile.h"

namespace {

// Silence on the connection longer than this ends the download (or, once
// bytes have arrived, the connection, which is then resumed).
const int kInactivityTimeoutMs = 10000;
// Longest a download may take however steadily data arrives: a server that
// trickles a byte now and then would otherwise hold the call for days.
const int kDownloadDurationLimitMs = 15 * 60 * 1000;
// Most of the body held in memory at a time. Chosen by measurement
// (bench/download/run.sh compares sizes): 32 to 64 KiB download fastest here,
// 128 KiB and more are slower and hold more memory.
const qint64 kReadBufferSize = 64 * 1024;

int statusOf(const QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// Failures of the connection rather than answers of the server: after one of
// these the rest of the package can still be asked for. (5 is the module's
// own abort; 10 and 11 are refused redirects.)
bool isDroppedConnection(int code)
{
    return (code >= 1 && code <= 99 && code != QNetworkReply::OperationCanceledError
            && code != QNetworkReply::TooManyRedirectsError && code != QNetworkReply::InsecureRedirectError)
           || (code >= 101 && code <= 199);
}

bool isIdentityEncoded(const QNetworkReply* reply)
{
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    return encoding.isEmpty() || encoding == "identity";
}

// If-Range takes a strong validator only: a strong ETag, else the date.
QByteArray validatorOf(const QNetworkReply* reply)
{
    const QByteArray etag = reply->rawHeader("ETag").trimmed();
    if (!etag.isEmpty())
        return etag.startsWith("W/") ? QByteArray() : etag;
    return reply->rawHeader("Last-Modified").trimmed();
}

} // namespace

PackageDownload::PackageDownload(const Controller& controller, PackageFile& package, UpdateProgress& progress,
                                 UpdatesFolder& updates)
    : m_c(controller)
    , m_package(package)
    , m_progress(progress)
    , m_updates(updates)
{
}

PackageDownload::~PackageDownload()
{
    finish(false);
}

void PackageDownload::run(const QUrl& url, Start start)
{
    m_url = url;
    m_rangeFrom = 0;
    m_received = 0;
    m_resumptions = 0;
    m_resumed = false;
    m_cancelled = false;
    m_errorText.clear();
    if (!m_partial)
        m_partial = std::make_unique<PartialDownload>(m_updates);
    m_progress.begin(QStringLiteral("download"), -1);
    if (start == FromStart)
        dropKept(true);
    else
        resumeKeptPartial();

    QTimer inactivity;
    inactivity.setInterval(kInactivityTimeoutMs);
    // A coarse timer may fire up to 5 % early; the limit is ten full seconds.
    inactivity.setTimerType(Qt::PreciseTimer);
    const int durationLimitMs = int(UPDATER_LIMIT("download_duration_ms", kDownloadDurationLimitMs));
    QTimer duration;
    duration.setSingleShot(true);
    duration.setInterval(durationLimitMs);
    duration.setTimerType(Qt::PreciseTimer);
    // Progress for the host, and a look at whether it asked to stop, from
    // whatever thread it did.
    QTimer tick;
    tick.setInterval(UpdateCancel::PollIntervalMs);
    QEventLoop loop;
    m_loop = &loop;
    m_inactivity = &inactivity;

    QObject::connect(m_c.receiver, SIGNAL(fileIsOversized()), &loop, SLOT(quit()));
    QObject::connect(&inactivity, &QTimer::timeout, &inactivity, [this]() { onInactivity(); }, Qt::DirectConnection);
    QObject::connect(
        &duration, &QTimer::timeout, &duration,
        [this, durationLimitMs]() {
            endAsTimedOut("durationHandler", QStringLiteral("Download still running after %1 s: download time limit "
                                                            "reached.")
                                                 .arg(durationLimitMs / 1000.0));
        },
        Qt::DirectConnection);
    QObject::connect(&tick, &QTimer::timeout, &loop, [this]() { onTick(); });

    // Redirects are followed here, one GET per answer, rather than by Qt:
    // every target is checked before it is asked for, and Qt 5.15's own
    // following was seen to end a same-host chain with an empty reply and to
    // deliver a cross-host body twice. The limits and timers above cover the
    // whole chain, and its resumptions.
    startChain(url);

    inactivity.start();
    duration.start();
    tick.start();
    if (UpdateCancel::isRequested())
        cancel();
    else
        loop.exec(QEventLoop::AllEvents);
    inactivity.stop();
    duration.stop();
    tick.stop();
    QObject::disconnect(m_c.receiver, SIGNAL(fileIsOversized()), &loop, SLOT(quit()));
    if (m_cancelled)
        releaseReply();
    m_loop = nullptr;
    m_inactivity = nullptr;

    settle();
    m_progress.advance(m_package.size());
    m_progress.end();
}

void PackageDownload::resumeKeptPartial()
{
    const QString url = m_url.toString(QUrl::FullyEncoded);
    if (!m_partial->find(url, m_package.expectedSha256()))
        return;
    // Its bytes are read again for the package's digest; the rest goes
    // after them in the same file.
    if (!adoptPartial()) {
        LOG_UPDATER(WARN) << "PackageDownload::resumeKeptPartial :: The partial download in "
                          << m_partial->dataPath() << " cannot be read (" << m_package.errorString()
                          << "); the package is downloaded from the start.";
        dropKept(true);
        return;
    }
    m_rangeFrom = m_package.size();
    m_received = m_rangeFrom;
    LOG_UPDATER(NOTICE) << "PackageDownload::resumeKeptPartial :: " << m_rangeFrom << " of "
                        << m_partial->source().length << " bytes of " << url << " were kept in "
                        << m_partial->dataPath() << ": the rest is asked for.";
    m_progress.setTotal(m_partial->source().length);
    m_progress.advance(m_rangeFrom);
}

// The reply before goes once the signal that got us here is over; nothing of
// it reaches the controller or the loop any more.
void PackageDownload::releaseReply()
{
    if (!m_c.reply)
        return;
    QNetworkReply* previous = m_c.reply.release();
    QObject::disconnect(previous, nullptr, m_c.receiver, nullptr);
    QObject::disconnect(previous, nullptr, m_loop, nullptr);
    QObject::disconnect(previous, nullptr, m_inactivity, nullptr);
    if (previous->isRunning())
        previous->abort();
    previous->deleteLater();
}

// A chain of redirects starts at the target.
void PackageDownload::startChain(const QUrl& target)
{
    m_redirects = std::make_unique<RedirectChain>(target);
    send(target);
}

void PackageDownload::send(const QUrl& target)
{
    releaseReply();
    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    if (m_rangeFrom > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(m_rangeFrom) + '-');
        request.setRawHeader("If-Range", m_partial->source().validator);
        // The offsets are those of the package as it is served, not of a
        // compressed form of it.
        request.setRawHeader("Accept-Encoding", "identity");
    }
    m_answerJudged = false;
    m_takesBody = false;
    m_answerBytes = 0;
    m_c.reply.reset(m_c.netManager->get(request));
    QNetworkReply* reply = m_c.reply.get();
    // Qt's network thread would otherwise buffer as much as the server
    // sends ahead of us; with a bound it waits until the file has taken it.
    reply->setReadBufferSize(UPDATER_LIMIT("download_read_buffer", kReadBufferSize));
    // Certificate problems do not stop the transfer: they are logged by
    // handleSSLErrors, and the package's signature decides afterwards.
    reply->ignoreSslErrors();

    QObject* controller = m_c.receiver;
    QObject::connect(reply, &QNetworkReply::finished, m_loop, [this]() { onFinished(); });
    QObject::connect(reply, SIGNAL(readyRead()), controller, SLOT(saveDataFromReplyToFile()));
    // The status is logged before the size is judged, and both before the
    // answer is.
    QObject::connect(reply, SIGNAL(metaDataChanged()), controller, SLOT(logReplyStatusCode()));
    QObject::connect(reply, SIGNAL(metaDataChanged()), controller, SLOT(checkContentLengthHeaderSize()));
    QObject::connect(reply, &QNetworkReply::metaDataChanged, m_loop, [this]() { judgeAnswer(); });
    QObject::connect(reply, SIGNAL(error(QNetworkReply::NetworkError)), controller,
                     SLOT(handleNetworkError(QNetworkReply::NetworkError)));
    QObject::connect(reply, SIGNAL(sslErrors(QList<QSslError>)), controller, SLOT(handleSSLErrors(QList<QSslError>)));
    // Bound to the timer, so it is disconnected when the download is over
    // even though the reply lives on.
    QTimer* inactivity = m_inactivity;
    QObject::connect(
        reply, &QNetworkReply::downloadProgress, inactivity,
        [inactivity](qint64, qint64) {
            LOG_UPDATER(INFO) << "CDefaultLibrary::downloadFile::progressHandler :: Restarting QTimer";
            inactivity->start();
        },
        Qt::DirectConnection);
}

// Once per answer, when its headers are in: whether its body is the
// package, and whether it continues, replaces or keeps the bytes so far.
void PackageDownload::judgeAnswer()
{
    if (m_answerJudged || !m_c.reply)
        return;
    m_answerJudged = true;
    QNetworkReply* reply = m_c.reply.get();
    const int status = statusOf(reply);
    if (RedirectChain::is3xx(status))
        return;
    if (m_rangeFrom == 0) {
        // Whatever else it is, it is judged as the answer of any download.
        m_takesBody = true;
        if (status == 200)
            keepOrStartOver(reply);
        return;
    }
    if (status == 206) {
        const QString why = whyNotContinuing();
        if (why.isEmpty()) {
            LOG_UPDATER(NOTICE) << "PackageDownload::judgeAnswer :: " << reply->url().toDisplayString()
                                << " sends the rest of the package from byte " << m_rangeFrom << " of "
                                << m_partial->source().length << ".";
            m_takesBody = true;
            m_resumed = true;
            return;
        }
        LOG_UPDATER(NOTICE) << "PackageDownload::judgeAnswer :: The answer does not continue the bytes so far ("
                            << why << "): the package is asked for from the start.";
        restartFromScratch();
        return;
    }
    if (status == 416) {
        LOG_UPDATER(NOTICE) << "PackageDownload::judgeAnswer :: The server has no bytes from " << m_rangeFrom
                            << " on: the package is asked for from the start.";
        restartFromScratch();
        return;
    }
    if (status == 200) {
        LOG_UPDATER(NOTICE) << "PackageDownload::judgeAnswer :: " << reply->url().toDisplayString()
                            << " sends the whole package (it has changed, or ranges are not served): it is "
                               "written from the start.";
        dropBytesSoFar();
        m_takesBody = true;
        keepOrStartOver(reply);
        return;
    }
    // An error answer to the request for the rest: judged as any error, and
    // its body never joins the package.
}

// Nothing when the 206 answer continues the bytes kept so far; otherwise
// why not.
QString PackageDownload::whyNotContinuing() const
{
    const QNetworkReply* reply = m_c.reply.get();
    const PartialDownload::Source& source = m_partial->source();
    static const QRegularExpression range(QStringLiteral("^bytes (\\d{1,19})-(\\d{1,19})/(\\d{1,19})$"));
    const QByteArray contentRange = reply->rawHeader("Content-Range").trimmed();
    const QRegularExpressionMatch match = range.match(QString::fromLatin1(contentRange));
    const QByteArray validator = validatorOf(reply);
    if (!match.hasMatch())
        return QStringLiteral("Content-Range \"%1\"").arg(QString::fromLatin1(contentRange.left(100)));
    if (match.captured(1).toLongLong() != m_rangeFrom || match.captured(3).toLongLong() != source.length
        || match.captured(2).toLongLong() != source.length - 1)
        return QStringLiteral("Content-Range \"%1\" for bytes %2-%3/%3")
            .arg(QString::fromLatin1(contentRange))
            .arg(m_rangeFrom)
            .arg(source.length);
    if (!isIdentityEncoded(reply))
        return QStringLiteral("the rest is encoded");
    if (!validator.isEmpty() && validator != source.validator)
        return QStringLiteral("another validator");
    if (reply->url().toString(QUrl::FullyEncoded) != source.finalUrl)
        return QStringLiteral("it comes from %1, the bytes so far from %2")
            .arg(reply->url().toDisplayString(), source.finalUrl);
    return QString();
}

// A whole package is on its way: it is kept as it arrives when it can be
// resumed, and nothing of an earlier one stays.
void PackageDownload::keepOrStartOver(QNetworkReply* reply)
{
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    m_progress.setTotal(length > 0 ? length : -1);
    PartialDownload::Source source;
    source.url = m_url.toString(QUrl::FullyEncoded);
    source.finalUrl = reply->url().toString(QUrl::FullyEncoded);
    source.validator = validatorOf(reply);
    source.length = length;
    source.sha256 = m_package.expectedSha256();
    if (source.validator.isEmpty() || length <= 0 || length > updater::MaxPackageSize || !isIdentityEncoded(reply)) {
        dropKept(true);
        return;
    }
    // Written where it is kept, as it arrives: once, and left by a process
    // that is killed.
    if (!m_partial->begin(source) || !adoptPartial()) {
        LOG_UPDATER(WARN) << "PackageDownload::keepOrStartOver :: The download cannot be kept for resuming: "
                          << m_partial->errorString() << ".";
        dropKept(true);
    }
}

// From now on the package is the open file of the partial download.
bool PackageDownload::adoptPartial()
{
    return m_package.adopt(m_partial->descriptor(), m_partial->dataPath(), m_partial->readPath());
}

// The kept file goes: the package file lets go of it first.
void PackageDownload::dropKept(bool keepFolder)
{
    m_package.release();
    m_partial->discard(keepFolder);
}

void PackageDownload::finish(bool keepFolder)
{
    if (!m_partial)
        return;
    if (m_partial->isActive())
        dropKept(keepFolder);
    else if (!keepFolder)
        m_partial->leaveFolder();
}

// Nothing of the bytes so far stays, kept or not: the package is counted and
// written from its first byte.
void PackageDownload::dropBytesSoFar()
{
    m_rangeFrom = 0;
    m_received = 0;
    dropKept(true);
    m_progress.begin(QStringLiteral("download"), -1);
}

void PackageDownload::restartFromScratch()
{
    dropBytesSoFar();
    startChain(m_url);
}

PackageDownload::Stored PackageDownload::store(const QByteArray& data)
{
    if (!m_answerJudged)
        judgeAnswer();
    if (!m_takesBody)
        return m_c.reply && RedirectChain::is3xx(statusOf(m_c.reply.get())) ? NotPackage : Ignored;
    // The announced length can be missing or wrong: the bytes that actually
    // arrive are held to the same limit, and nothing past it is stored.
    if (m_c.fileOversized)
        return Ignored;
    m_received += data.size();
    if (m_received > updater::MaxPackageSize)
        return Oversized;
    // After a failed write the file is incomplete: nothing more goes in, and
    // the download is judged a file system error.
    if (m_package.writeFailed())
        return Ignored;
    if (!m_package.write(data.constData(), data.size()))
        return WriteFailed;
    m_answerBytes += data.size();
    UPDATER_FAULT_POINT("download.stored");
    return Written;
}

void PackageDownload::onFinished()
{
    if (!m_c.reply || !m_loop)
        return;
    QNetworkReply* reply = m_c.reply.get();
    const int status = statusOf(reply);
    if (m_c.networkError && !m_c.fileOversized
        && resumeAfterDrop(m_c.networkErrorCode,
                           QStringLiteral("[%1] %2").arg(m_c.networkErrorCode).arg(reply->errorString())))
        return;
    if (m_c.networkError || m_c.fileOversized || !RedirectChain::is3xx(status)) {
        m_loop->quit();
        return;
    }
    // The answer of the current reply is a redirect to follow, or ends the
    // download.
    const QUrl from = reply->url();
    const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (!m_redirects->follow(from, status, location)) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::downloadFile::redirectHandler :: Redirect refused at hop "
                          << m_redirects->hops() << ": " << m_redirects->errorString();
        m_c.networkErrorCode = m_redirects->errorCode();
        m_c.networkError = true;
        m_errorText = m_redirects->errorString();
        m_loop->quit();
        return;
    }
    LOG_UPDATER(NOTICE) << "CDefaultLibrary::downloadFile::redirectHandler :: Following redirect "
                        << m_redirects->hops() << " of at most " << RedirectChain::MaxHops << ": "
                        << from.toDisplayString() << " answered " << status << " with "
                        << m_redirects->target().toDisplayString();
    send(m_redirects->target());
}

// A connection that dropped after bytes of a package that can be resumed
// arrived is asked for the rest, at the URL that was answering.
bool PackageDownload::resumeAfterDrop(int code, const QString& why)
{
    if (!m_partial->isActive() || m_answerBytes == 0 || !isDroppedConnection(code) || m_package.writeFailed()
        || m_cancelled)
        return false;
    if (m_resumptions >= MaxResumptions) {
        LOG_UPDATER(WARN) << "PackageDownload::resumeAfterDrop :: The connection dropped again after "
                          << m_package.size() << " of " << m_partial->source().length << " bytes (" << why
                          << "); it was resumed " << MaxResumptions << " times already.";
        return false;
    }
    ++m_resumptions;
    LOG_UPDATER(NOTICE) << "PackageDownload::resumeAfterDrop :: The connection dropped after " << m_package.size()
                        << " of " << m_partial->source().length << " bytes (" << why << "): resumption "
                        << m_resumptions << " of at most " << MaxResumptions << ".";
    // The drop is behind us: what counts is how the rest goes.
    m_c.networkError = false;
    m_c.networkErrorCode = 0;
    m_rangeFrom = m_package.size();
    startChain(QUrl(m_partial->source().finalUrl));
    m_inactivity->start();
    return true;
}

void PackageDownload::onInactivity()
{
    if (resumeAfterDrop(QNetworkReply::TimeoutError,
                        QStringLiteral("no data received for %1 s").arg(kInactivityTimeoutMs / 1000)))
        return;
    endAsTimedOut("timeoutHandler",
                  QStringLiteral("No data received for %1 s: inactivity limit reached.").arg(kInactivityTimeoutMs / 1000));
}

// Either limit ends the download as timed out; the second line says which.
void PackageDownload::endAsTimedOut(const char* handler, const QString& limit)
{
    m_c.networkErrorCode = QNetworkReply::TimeoutError;
    m_c.networkError = true;
    LOG_UPDATER(WARN) << "CDefaultLibrary::downloadFile::" << handler << " :: Connection error occurred: ["
                      << m_c.networkErrorCode << "][Connection timed out]";
    LOG_UPDATER(WARN) << "CDefaultLibrary::downloadFile::" << handler << " :: " << limit;
    if (m_loop)
        m_loop->quit();
}

void PackageDownload::onTick()
{
    if (!UpdateCancel::isRequested())
        m_progress.advance(m_package.size());
    // The host may have asked from inside its progress slot.
    if (UpdateCancel::isRequested())
        cancel();
}

void PackageDownload::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    LOG_UPDATER(NOTICE) << "PackageDownload::cancel :: The host cancelled the download after " << m_package.size()
                        << " bytes.";
    if (m_loop)
        m_loop->quit();
}

// The download is over: what was kept stays only when the connection
// dropped for good after bytes arrived.
void PackageDownload::settle()
{
    const bool intact = !m_c.fileOversized && !m_package.writeFailed() && !m_cancelled;
    // A whole package stays where it was written until the call is over.
    if (intact && !m_c.networkError)
        return;
    if (intact && isDroppedConnection(m_c.networkErrorCode) && m_partial->isActive() && m_package.size() > 0) {
        const qint64 kept = m_package.size();
        m_package.release();
        m_partial->keep();
        LOG_UPDATER(NOTICE) << "PackageDownload::settle :: " << kept << " of " << m_partial->source().length
                            << " bytes are kept in " << m_partial->dataPath() << " for the next download of this URL.";
        return;
    }
    dropKept(false);
}
