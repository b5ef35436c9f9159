#ifndef PARTIALDOWNLOAD_H
#define PARTIALDOWNLOAD_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <QFile>

class UpdatesFolder;

// A download that can be resumed, in the installation's "UPDATES" folder: the
// package's bytes ("download.part", which the package file writes as they
// arrive, so that a process that is killed leaves them too) and what they
// are (the "download.state" beside them). At most one is kept; nothing but
// this class opens, names or removes the two files, and a call holds a lock
// on the bytes while it uses them, so that two calls never share them.
//
//     PartialDownload partial(updatesFolderPath);
//     if (partial.find(url, sha256))    // kept for this URL: continue in its file
//         ... partial.descriptor(), the package file adopts it
//     partial.begin(source);            // or anew, for an answer that can be resumed
//     partial.keep()  or  partial.discard()
//
// A kept partial is trusted no more than a download: its length is held to
// the package size limit and the package it completes is verified as any
// other. The folder follows the rules of "UPDATES" (UpdatesFolder): held by
// its handle, a real folder of the caller's or root's that nobody else can
// write into; the files are opened through it, never through a link, and
// must be regular files of the caller's. A folder that this call made is
// removed again when it is left empty.
class PartialDownload
{
public:
    // What the bytes are the start of.
    struct Source {
        QString url;          // the URL the host asked for
        QString finalUrl;     // the URL that answered, at the end of its redirects
        QByteArray validator; // the answer's strong ETag, else its Last-Modified
        qint64 length = -1;   // of the whole package
        QByteArray sha256;    // the host's expected SHA-256, empty when none
    };

    static const char* const DataFileName;
    static const char* const StateFileName;

    explicit PartialDownload(UpdatesFolder& updates);
    ~PartialDownload();
    PartialDownload(const PartialDownload&) = delete;
    PartialDownload& operator=(const PartialDownload&) = delete;

    // Looks for bytes kept for this URL that another SHA-256 does not rule
    // out, at least one and fewer than their length; found, their file is
    // open. Anything else kept is removed, unless another call uses it.
    bool find(const QString& url, const QByteArray& sha256);
    // Makes the file anew, empty and open, for an answer that can be
    // resumed, and writes what it is.
    bool begin(const Source& source);

    bool isActive() const { return m_data.isOpen(); }
    // The open file, for the package file to read and write, and a path
    // that reads the very same file.
    int descriptor() const { return m_data.handle(); }
    QString readPath();
    const Source& source() const { return m_source; }
    QString dataPath() const;

    // The bytes stay for the next download of the URL, or they go (with
    // the folder, when this object made it, unless keepFolder).
    void keep();
    void discard(bool keepFolder = false);
    // Removes the folder when this object made it and it is empty.
    void leaveFolder();

    QString errorString() const { return m_error; }

private:
    QString path(const char* name) const;
    bool folderUsable(bool create);
    bool lock();
    bool readState(Source& source);
    QByteArray stateText(const Source& source) const;
    void close();
    bool failed(const QString& what);

    UpdatesFolder& m_updates;
    Source m_source;
    QFile m_data;
    QString m_error;
};

#endif
