#include "HttpsTestServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

namespace {

const int kChunkSize = 64 * 1024;
// Keep at most this much queued in the socket: the body is streamed.
const qint64 kMaxQueued = 256 * 1024;

// One accepted connection: reads the request, then sends the answer its
// route asks for.
class Connection : public QObject
{
public:
    Connection(qintptr descriptor, const TestCertificate& certificate,
               const QSharedPointer<HttpsTestServer::Shared>& shared, QObject* parent)
        : QObject(parent)
        , m_shared(shared)
        , m_socket(new QSslSocket(this))
        , m_timer(new QTimer(this))
    {
        connect(m_socket, &QSslSocket::readyRead, this, [this]() { onReadyRead(); });
        connect(m_socket, &QSslSocket::encryptedBytesWritten, this, [this]() { pump(); });
        connect(m_socket, &QSslSocket::disconnected, this, [this]() { deleteLater(); });
        connect(m_socket, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), m_socket,
                [this]() { m_socket->ignoreSslErrors(); });
        connect(m_timer, &QTimer::timeout, this, [this]() { sendDripChunk(); });
        if (!m_socket->setSocketDescriptor(descriptor)) {
            deleteLater();
            return;
        }
        m_socket->setLocalCertificate(certificate.certificate());
        m_socket->setPrivateKey(certificate.privateKey());
        m_socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        m_socket->startServerEncryption();
    }

private:
    void onReadyRead()
    {
        if (m_answered) {
            m_socket->readAll();
            return;
        }
        m_request += m_socket->readAll();
        const int end = m_request.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        m_answered = true;
        const QList<QByteArray> requestLine = m_request.left(m_request.indexOf("\r\n")).split(' ');
        QByteArray target = requestLine.value(1);
        if (target.startsWith("http://") || target.startsWith("https://"))
            target = target.mid(target.indexOf('/', target.indexOf("//") + 2));
        const int query = target.indexOf('?');
        const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(query < 0 ? target : target.left(query)));
        for (const QByteArray& line : m_request.left(end).split('\n')) {
            const int colon = line.indexOf(':');
            if (colon > 0)
                m_headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        answer(path);
    }

    void answer(const QString& path)
    {
        HttpsTestServer::Route route;
        bool haveRoute = false;
        QString rootFolder;
        {
            QMutexLocker locker(&m_shared->mutex);
            m_shared->requestedPaths.append(path);
            haveRoute = m_shared->routes.contains(path);
            if (haveRoute)
                route = m_shared->routes.value(path);
            rootFolder = m_shared->rootFolder;
        }
        if (!haveRoute && !rootFolder.isEmpty() && openFromFolder(rootFolder, path)) {
            // As a web server serves files: a validator from size and time,
            // and ranges.
            route = HttpsTestServer::resumable(QByteArray(), '"' + QByteArray::number(m_file.size(), 16) + '-'
                                                                 + QByteArray::number(QFileInfo(m_file).lastModified().toMSecsSinceEpoch(), 16) + '"');
            haveRoute = true;
        }
        if (!haveRoute)
            route = HttpsTestServer::notFound();

        switch (route.kind) {
        case HttpsTestServer::Route::NotFound: {
            const QByteArray body("Not Found");
            m_socket->write("HTTP/1.1 404 " + route.reasonPhrase + "\r\nContent-Type: text/plain\r\nContent-Length: "
                            + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            m_socket->disconnectFromHost();
            return;
        }
        case HttpsTestServer::Route::Silent:
            return;
        case HttpsTestServer::Route::AnnouncedLength:
            m_body = route.body;
            sendHeaders(true, route.announcedLength);
            m_closeWhenSent = false;
            pump();
            return;
        case HttpsTestServer::Route::Drip:
            m_body = route.body;
            m_dripChunk = qMax(1, route.chunkSize);
            sendHeaders(route.withContentLength, m_body.size());
            sendDripChunk();
            m_timer->start(route.intervalMs);
            return;
        case HttpsTestServer::Route::File: {
            if (!m_file.isOpen())
                m_body = route.body;
            m_path = path;
            const qint64 size = bodySize();
            const QByteArray range = m_headers.value("range");
            const QByteArray ifRange = m_headers.value("if-range");
            if (route.ranges && range.startsWith("bytes=") && range.endsWith('-')
                && (ifRange.isEmpty() || ifRange == route.etag)) {
                const qint64 from = range.mid(6, range.size() - 7).toLongLong();
                if (from > 0 && from < size) {
                    m_sent = from;
                    sendHeaders(true, size - from, route,
                                "bytes " + QByteArray::number(from) + '-' + QByteArray::number(size - 1) + '/'
                                    + QByteArray::number(size));
                } else {
                    sendHeaders(route.withContentLength, size, route);
                }
            } else {
                sendHeaders(route.withContentLength, size, route);
            }
            {
                QMutexLocker locker(&m_shared->mutex);
                if (route.cutAfter >= 0 && m_shared->cutsMade.value(path) < route.cuts) {
                    ++m_shared->cutsMade[path];
                    m_cutAt = m_sent + route.cutAfter;
                    m_stall = route.stall;
                }
            }
            // With a length the client knows where the body ends and closes
            // itself. Closing first can reset the connection while the last
            // bytes are still on their way through a proxy, which then drops
            // them.
            m_closeWhenSent = !route.withContentLength;
            pump();
            return;
        }
        }
    }

    bool openFromFolder(const QString& rootFolder, const QString& path)
    {
        const QString root = QDir(rootFolder).canonicalPath();
        const QString cleaned = QDir::cleanPath(root + QLatin1Char('/') + path);
        if (!cleaned.startsWith(root + QLatin1Char('/')) || !QFileInfo(cleaned).isFile())
            return false;
        m_file.setFileName(cleaned);
        return m_file.open(QIODevice::ReadOnly);
    }

    void sendHeaders(bool withContentLength, qint64 length, const HttpsTestServer::Route& route = {},
                     const QByteArray& contentRange = QByteArray())
    {
        QByteArray headers(contentRange.isEmpty() ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 206 Partial Content\r\n");
        headers += "Content-Type: application/octet-stream\r\n";
        if (withContentLength)
            headers += "Content-Length: " + QByteArray::number(length) + "\r\n";
        if (!contentRange.isEmpty())
            headers += "Content-Range: " + contentRange + "\r\n";
        if (!route.etag.isEmpty())
            headers += "ETag: " + route.etag + "\r\n";
        if (!route.lastModified.isEmpty())
            headers += "Last-Modified: " + route.lastModified + "\r\n";
        if (route.ranges)
            headers += "Accept-Ranges: bytes\r\n";
        headers += "Connection: close\r\n\r\n";
        m_socket->write(headers);
    }

    qint64 bodySize() const { return m_file.isOpen() ? m_file.size() : m_body.size(); }

    QByteArray readBody(qint64 offset, qint64 size)
    {
        if (!m_file.isOpen())
            return m_body.mid(static_cast<int>(offset), static_cast<int>(size));
        m_file.seek(offset);
        return m_file.read(size);
    }

    // Moves the body into the socket as it drains.
    void pump()
    {
        if (!m_answered || m_timer->isActive() || m_dripChunk > 0)
            return;
        const qint64 queued = m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite();
        if (m_cutAt >= 0 && m_sent >= m_cutAt) {
            // Cut once the bytes before the cut are on their way.
            if (queued == 0 && !m_stall && !m_closing) {
                m_closing = true;
                m_socket->abort();
            }
            return;
        }
        const qint64 end = m_cutAt >= 0 ? qMin(m_cutAt, bodySize()) : bodySize();
        while (m_sent < end && m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() < kMaxQueued) {
            const QByteArray chunk = readBody(m_sent, qMin<qint64>(kChunkSize, end - m_sent));
            if (chunk.isEmpty())
                break;
            m_socket->write(chunk);
            m_sent += chunk.size();
            QMutexLocker locker(&m_shared->mutex);
            m_shared->bodyBytesSent[m_path] += chunk.size();
        }
        if (m_cutAt >= 0 && m_sent >= m_cutAt)
            return;
        if (m_sent >= bodySize() && m_closeWhenSent && !m_closing) {
            m_closing = true;
            m_socket->disconnectFromHost();
        }
    }

    void sendDripChunk()
    {
        const QByteArray chunk = m_body.mid(static_cast<int>(m_sent), m_dripChunk);
        m_socket->write(chunk);
        m_sent += chunk.size();
        {
            QMutexLocker locker(&m_shared->mutex);
            m_shared->bodyBytesSent[m_path] += chunk.size();
        }
        if (m_sent >= m_body.size()) {
            m_timer->stop();
            m_socket->disconnectFromHost();
        }
    }

    QSharedPointer<HttpsTestServer::Shared> m_shared;
    QSslSocket* m_socket;
    QTimer* m_timer;
    QFile m_file;
    QByteArray m_request;
    QMap<QByteArray, QByteArray> m_headers;
    QString m_path;
    qint64 m_cutAt = -1;
    bool m_stall = false;
    QByteArray m_body;
    qint64 m_sent = 0;
    int m_dripChunk = 0;
    bool m_answered = false;
    bool m_closeWhenSent = true;
    bool m_closing = false;
};

class Listener : public QTcpServer
{
public:
    Listener(const TestCertificate& certificate, const QSharedPointer<HttpsTestServer::Shared>& shared)
        : m_certificate(certificate)
        , m_shared(shared)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        new Connection(descriptor, m_certificate, m_shared, this);
    }

private:
    TestCertificate m_certificate;
    QSharedPointer<HttpsTestServer::Shared> m_shared;
};

} // namespace

HttpsTestServer::Route HttpsTestServer::file(const QByteArray& body, bool withContentLength)
{
    Route route;
    route.kind = Route::File;
    route.body = body;
    route.withContentLength = withContentLength;
    return route;
}

HttpsTestServer::Route HttpsTestServer::notFound(const QByteArray& reasonPhrase)
{
    Route route;
    route.kind = Route::NotFound;
    route.reasonPhrase = reasonPhrase;
    return route;
}

HttpsTestServer::Route HttpsTestServer::announcedLength(qint64 length, const QByteArray& body)
{
    Route route;
    route.kind = Route::AnnouncedLength;
    route.announcedLength = length;
    route.body = body;
    return route;
}

HttpsTestServer::Route HttpsTestServer::silent()
{
    Route route;
    route.kind = Route::Silent;
    return route;
}

HttpsTestServer::Route HttpsTestServer::drip(const QByteArray& body, int chunkSize, int intervalMs,
                                             bool withContentLength)
{
    Route route;
    route.kind = Route::Drip;
    route.body = body;
    route.chunkSize = chunkSize;
    route.intervalMs = intervalMs;
    route.withContentLength = withContentLength;
    return route;
}

HttpsTestServer::Route HttpsTestServer::resumable(const QByteArray& body, const QByteArray& etag)
{
    Route route = file(body);
    route.etag = etag;
    route.ranges = true;
    return route;
}

HttpsTestServer::HttpsTestServer(const TestCertificate& certificate)
    : m_shared(new Shared)
    , m_certificate(certificate)
{
}

HttpsTestServer::~HttpsTestServer()
{
    stop();
}

bool HttpsTestServer::start(quint16 port)
{
    if (m_listener || m_certificate.isNull())
        return false;
    auto* listener = new Listener(m_certificate, m_shared);
    listener->moveToThread(&m_thread);
    m_thread.start();
    bool listening = false;
    QMetaObject::invokeMethod(
        listener, [listener, port, &listening]() { listening = listener->listen(QHostAddress::LocalHost, port); },
        Qt::BlockingQueuedConnection);
    m_listener = listener;
    if (!listening) {
        stop();
        return false;
    }
    m_port = listener->serverPort();
    return true;
}

void HttpsTestServer::stop()
{
    if (!m_listener)
        return;
    QObject* listener = m_listener;
    m_listener = nullptr;
    // Deleted in its own thread, with every connection below it.
    QMetaObject::invokeMethod(listener, [listener]() { delete listener; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    m_port = 0;
}

bool HttpsTestServer::isRunning() const
{
    return m_listener != nullptr;
}

quint16 HttpsTestServer::port() const
{
    return m_port;
}

QString HttpsTestServer::url(const QString& path) const
{
    return QStringLiteral("https://127.0.0.1:%1%2").arg(m_port).arg(path);
}

TestCertificate HttpsTestServer::certificate() const
{
    return m_certificate;
}

void HttpsTestServer::setRoute(const QString& path, const Route& route)
{
    QMutexLocker locker(&m_shared->mutex);
    m_shared->routes.insert(path, route);
}

void HttpsTestServer::setRootFolder(const QString& folder)
{
    QMutexLocker locker(&m_shared->mutex);
    m_shared->rootFolder = folder;
}

QStringList HttpsTestServer::requestedPaths() const
{
    QMutexLocker locker(&m_shared->mutex);
    return m_shared->requestedPaths;
}

qint64 HttpsTestServer::bodyBytesSent(const QString& path) const
{
    QMutexLocker locker(&m_shared->mutex);
    return m_shared->bodyBytesSent.value(path);
}

quint16 HttpsTestServer::closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}
