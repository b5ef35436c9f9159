#ifndef HTTPSTESTSERVER_H
#define HTTPSTESTSERVER_H

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QThread>

#include "TestCertificate.h"

// An HTTPS/1.1 server on 127.0.0.1 for tests, benchmarks and demos. It runs
// in a thread of its own, so the thread that starts it may block in a nested
// event loop while the server answers. Each path is answered by a route
// (set before or while running); paths without a route are served from the
// root folder when one is set, otherwise answered with 404. Every answer
// closes the connection.
class HttpsTestServer
{
public:
    struct Route {
        enum Kind {
            File,            // 200 with the body, streamed
            NotFound,        // 404
            AnnouncedLength, // 200 announcing announcedLength, sends the body, then stays silent
            Silent,          // reads the request and never answers
            Drip,            // 200, then one chunk of the body every intervalMs
        };
        Kind kind = File;
        QByteArray body;
        bool withContentLength = true;
        qint64 announcedLength = -1;
        int chunkSize = 0;
        int intervalMs = 0;
        QByteArray reasonPhrase;
        // File: validators sent with the body, and whether "Range: bytes=N-"
        // is answered with 206 (unless an If-Range names another ETag).
        QByteArray etag;
        QByteArray lastModified;
        bool ranges = false;
        // File: the first `cuts` answers end after cutAfter bytes of body,
        // once those reached the client: the connection is closed without
        // a TLS goodbye, or, with stall, left open and silent.
        qint64 cutAfter = -1;
        int cuts = 1;
        bool stall = false;
    };

    static Route file(const QByteArray& body, bool withContentLength = true);
    static Route notFound(const QByteArray& reasonPhrase = "Not Found");
    static Route announcedLength(qint64 length, const QByteArray& body = QByteArray());
    static Route silent();
    // The first chunk goes out with the headers, the next ones intervalMs apart.
    static Route drip(const QByteArray& body, int chunkSize, int intervalMs, bool withContentLength = true);
    // A file served with an ETag and ranges, as a web server serves one.
    static Route resumable(const QByteArray& body, const QByteArray& etag);

    explicit HttpsTestServer(const TestCertificate& certificate = TestCertificate::generate());
    ~HttpsTestServer();

    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;

    // Listens on 127.0.0.1 (port 0: a free one). False if that fails.
    bool start(quint16 port = 0);
    // Closes the listener and every connection, and ends the thread.
    void stop();
    bool isRunning() const;

    quint16 port() const;
    // "https://127.0.0.1:<port><path>"
    QString url(const QString& path) const;
    TestCertificate certificate() const;

    void setRoute(const QString& path, const Route& route);
    void setRootFolder(const QString& folder);
    // The paths of all requests received so far, in order.
    QStringList requestedPaths() const;
    // Bytes of body handed to the connections for the path so far.
    qint64 bodyBytesSent(const QString& path) const;

    // A loopback port on which nothing listens (bound, then released).
    static quint16 closedPort();

    struct Shared {
        mutable QMutex mutex;
        QMap<QString, Route> routes;
        QString rootFolder;
        QStringList requestedPaths;
        QMap<QString, qint64> bodyBytesSent;
        QMap<QString, int> cutsMade;
    };

private:
    QSharedPointer<Shared> m_shared;
    TestCertificate m_certificate;
    QThread m_thread;
    QObject* m_listener = nullptr;
    quint16 m_port = 0;
};

#endif
