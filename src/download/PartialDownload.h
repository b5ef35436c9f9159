#ifndef PARTIALDOWNLOAD_H
#define PARTIALDOWNLOAD_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

#include "PartialDownloadFiles.h"

// A download cut short, kept in the installation's "UPDATES" folder so that
// the next attempt asks only for the rest: the bytes received so far
// ("download.part") and what they are (the "download.state" beside them).
// The bytes are written there as they arrive, so a process that is killed
// leaves them too. At most one is kept; nothing but this class touches the
// two files.
//
//     PartialDownload partial(updatesFolderPath);
//     if (partial.find(url, sha256))        // kept for this URL: its bytes
//         partial.resume(sink);             //   go to the sink, then more are appended
//     partial.begin(source);                // or a new one, for an answer that can be resumed
//     partial.append(data, n) ...
//     partial.keep()  or  partial.discard() // when the download is over
//
// A kept partial is trusted no more than a download: its length is held to
// the package size limit and the package it completes is verified as any
// other. The folder is used only when it is a real folder of the caller's
// that nobody else can write into; a folder this object made is removed
// again when it is left empty.
class PartialDownload
{
public:
    // What the kept bytes are the start of.
    struct Source {
        QString url;         // the URL the host asked for
        QString finalUrl;    // the URL that answered, at the end of its redirects
        QByteArray validator; // the answer's strong ETag, else its Last-Modified
        qint64 length = -1;  // of the whole package
        QByteArray sha256;   // the host's expected SHA-256, empty when none
    };

    static const char* const DataFileName;
    static const char* const StateFileName;

    explicit PartialDownload(const QString& folderPath);
    ~PartialDownload();
    PartialDownload(const PartialDownload&) = delete;
    PartialDownload& operator=(const PartialDownload&) = delete;

    // Looks for a partial of this URL that another SHA-256 does not rule
    // out, with at least one byte and fewer than its length. Anything else
    // kept is removed.
    bool find(const QString& url, const QByteArray& sha256);
    // Reads the kept bytes into the sink, a piece at a time; then appends
    // go after them. On failure the partial is removed.
    bool resume(const std::function<bool(const char*, qint64)>& sink);
    // Starts keeping the bytes of a new answer, in place of what was kept.
    bool begin(const Source& source);
    bool append(const char* data, qint64 size);

    // Bytes are being kept (found and resumed, or begun).
    bool isActive() const { return m_data != PartialDownloadFiles::NoHandle; }
    const Source& source() const { return m_source; }
    qint64 size() const { return m_size; }
    QString dataPath() const;

    // The download is over: the bytes stay for the next one, or they go.
    void keep();
    void discard();

    QString errorString() const { return m_error; }

private:
    QString path(const char* name) const;
    bool folderUsable(bool create);
    bool readState(Source& source);
    QByteArray stateText(const Source& source) const;
    void close();
    bool failed(const QString& what);

    QString m_folder;
    bool m_madeFolder = false;
    Source m_source;
    qint64 m_size = 0;
    PartialDownloadFiles::Handle m_data = PartialDownloadFiles::NoHandle;
    QString m_error;
};

#endif
