#ifndef PACKAGEFILE_H
#define PACKAGEFILE_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include "PackageDigest.h"

class QTemporaryFile;

// The package on disk with what is known about its bytes: the SHA-256 taken
// as they are written (once, so that nothing reads the package again to
// check it) and the SHA-256 the host expects. The download and UpdateFromData
// write it, verification reads its digest, the installation takes its path
// and, once unpacked, drops its bytes.
//
// It is the controller's temporary file, except for a download that can be
// resumed: that is written where it is kept (PartialDownload), so that its
// bytes are written once and a process that is killed leaves them.
//
//     PackageFile package(tempFile);
//     package.setExpectedSha256(request.value("sha256"));
//     package.open();  package.write(data, n) ...
//     [package.adopt(descriptor, path) ... package.release()]
//     package.close();
//     package.digest() ...  package.readPath() ...  package.dropBytes();
//
// It lives with verification because what it adds to a plain file is what
// the checks need; both writers depend on verification already.
class PackageFile
{
public:
    explicit PackageFile(QTemporaryFile& file);
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;

    // The host's "sha256": empty when it gave none.
    void setExpectedSha256(const QByteArray& sha256) { m_expectedSha256 = sha256; }
    const QByteArray& expectedSha256() const { return m_expectedSha256; }
    // 64 hexadecimal digits, either case.
    static bool isSha256Text(const QByteArray& text);

    // Creates the file (or opens it again, emptied, for another download).
    bool open();
    // Appends the bytes to the file and to the digest. A write that fails
    // leaves the file incomplete: nothing more is written until the package
    // is opened or adopted anew, and writeFailed() tells.
    bool write(const char* data, qint64 size);
    // From now on the package is the open file of a kept download (a C
    // runtime descriptor, which stays its owner's): the bytes it holds are
    // read again for the digest and writes go after them. False, with
    // nothing adopted, when they cannot be read.
    // readPath: a path that reads the very same file, whatever its name
    // stands for meanwhile (see readPath()).
    bool adopt(int descriptor, const QString& path, const QString& readPath);
    // Back to the temporary file, emptied: the kept file is left to its
    // owner.
    void release();
    bool isAdopted() const { return m_device == &m_kept; }
    void close();

    bool writeFailed() const { return m_writeFailed; }
    QFileDevice::FileError error() const;
    QString errorString() const;
    qint64 size() const;
    // Where the package is, for the log, and the path its readers open: the
    // same file for the temporary file; for a kept download a path that
    // reaches the open file itself, so that nothing exchanged at its name
    // in "UPDATES" can be read in its place.
    QString path() const;
    QString readPath() const;

    // The digest of the closed file's bytes. A file that was filled
    // otherwise (the module's tests write it themselves) is read once to
    // make it so. Null, with the reason in errorString(), when it cannot be
    // read.
    const PackageDigest* digest();

    // Once unpacked the package is not read again: its bytes go, so that a
    // flush of the file system does not write them out.
    void dropBytes();

private:
    // The digest no longer stands for the file.
    void forget();
    // The digest taken anew from the bytes of the open file.
    bool digestAnew(QFile& file);

    QTemporaryFile& m_file;
    QFile m_kept;
    QString m_keptPath;
    QString m_keptReadPath;
    // The file the package is in: m_file or m_kept.
    QFileDevice* m_device;
    PackageDigest m_digest;
    QByteArray m_expectedSha256;
    bool m_writeFailed = false;
    // Why the file could not be read for its digest.
    QString m_readError;
    // The digest is known to be that of the file as it stands.
    bool m_digestChecked = false;
};

#endif
