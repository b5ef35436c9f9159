#ifndef PACKAGEDOWNLOAD_H
#define PACKAGEDOWNLOAD_H

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <memory>

#include "PartialDownload.h"
#include "RedirectChain.h"

class PackageFile;
class QEventLoop;
class QTimer;
class UpdateProgress;
class UpdatesFolder;

// The download of the package into the package file: the GET, the redirects
// before the answer that holds it, the limits on silence and on duration,
// the host's progress and cancel, and the resumption of what was cut short.
//
//     PackageDownload download({controller, m_NetManager, m_reply, m_networkError,
//                               m_fileOversized, m_networkErrorCode}, package, progress);
//     (the manager made, its proxy set, the package file open)
//     download.run(url);                        // returns when it is over
//     the controller's flags tell what went wrong, as for any download;
//     download.cancelled(), download.resumed(), download.errorString()
//     download.run(url, PackageDownload::FromStart)  // again, keeping nothing
//     download.finish(installed)                // when the call is over
//
// The request runs on the controller's manager and reply; the controller's
// slots watch each reply (status, length, errors, TLS) and hand each piece
// of the body to store().
//
// Resumption. An answer with the whole package that names a strong ETag or a
// Last-Modified, its length and no content encoding is written where it is
// kept, in "UPDATES" (PartialDownload), instead of the temporary file. A connection that drops after bytes of it
// arrived (reset, early close, ten seconds of silence) is asked for the rest
// (Range with If-Range) up to MaxResumptions times, within the same
// fifteen-minute bound; a download that stops for good that way leaves its
// bytes for the next call for the same URL, which asks for the rest the same
// way. A 206 continues the file only when its Content-Range starts at the
// kept length and ends the same package at the same URL; a 200 starts the
// file over with its own body; any other 206 is dropped and the package
// asked for from the start. Every other outcome (success, an error answer,
// oversize, a failed write, cancel) leaves nothing kept.
class PackageDownload
{
public:
    static constexpr int MaxResumptions = 3;

    // The controller's members that the download works on, and the
    // controller itself, whose slots watch each reply and whose signal
    // fileIsOversized() ends the download.
    struct Controller {
        QObject* receiver;
        std::unique_ptr<QNetworkAccessManager>& netManager;
        std::unique_ptr<QNetworkReply>& reply;
        bool& networkError;
        bool& fileOversized;
        int& networkErrorCode;
    };

    enum Start { Resume, FromStart };
    // What became of a piece of the body handed to store().
    enum Stored {
        Written,
        NotPackage,  // the body of a 3xx answer
        Ignored,     // an answer that is being dropped, or after oversize or a failed write
        Oversized,   // it takes the package over the size limit
        WriteFailed, // the package file did not take it
    };

    // updates: "UPDATES" of the installation, where a download that can be
    // resumed is kept.
    PackageDownload(const Controller& controller, PackageFile& package, UpdateProgress& progress,
                    UpdatesFolder& updates);
    ~PackageDownload();
    PackageDownload(const PackageDownload&) = delete;
    PackageDownload& operator=(const PackageDownload&) = delete;

    // The whole download, in a local event loop of its own; the package
    // file must be open.
    void run(const QUrl& url, Start start = Resume);
    Stored store(const QByteArray& data);
    // The call is over: a package that was written where downloads are kept
    // goes, and with it "UPDATES" when the download made it, unless
    // keepFolder (an installation has used it).
    void finish(bool keepFolder);

    // Bytes of the package counted so far, for the size limit.
    qint64 receivedSize() const { return m_received; }
    // The host asked to stop it.
    bool cancelled() const { return m_cancelled; }
    // The package holds bytes of more than one answer.
    bool resumed() const { return m_resumed; }
    // The text of a failure that the module found itself (a refused
    // redirect), for the result in place of the reply's own error text.
    QString errorString() const { return m_errorText; }

private:
    void startChain(const QUrl& target);
    void send(const QUrl& target);
    void releaseReply();
    void judgeAnswer();
    QString whyNotContinuing() const;
    void keepOrStartOver(QNetworkReply* reply);
    void dropBytesSoFar();
    void restartFromScratch();
    bool adoptPartial();
    void dropKept(bool keepFolder);
    void onFinished();
    void onTick();
    void onInactivity();
    bool resumeAfterDrop(int code, const QString& why);
    void endAsTimedOut(const char* handler, const QString& limit);
    void cancel();
    void settle();
    void resumeKeptPartial();

    Controller m_c;
    PackageFile& m_package;
    UpdateProgress& m_progress;
    UpdatesFolder& m_updates;
    std::unique_ptr<PartialDownload> m_partial;
    std::unique_ptr<RedirectChain> m_redirects;
    QUrl m_url;
    QEventLoop* m_loop = nullptr;
    QTimer* m_inactivity = nullptr;
    // The first byte the current request asks for: 0 for the whole package.
    qint64 m_rangeFrom = 0;
    // The current answer was looked at, and whether its body is the package.
    bool m_answerJudged = false;
    bool m_takesBody = false;
    qint64 m_answerBytes = 0;
    qint64 m_received = 0;
    int m_resumptions = 0;
    bool m_resumed = false;
    bool m_cancelled = false;
    QString m_errorText;
};

#endif
