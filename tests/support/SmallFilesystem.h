#ifndef SMALLFILESYSTEM_H
#define SMALLFILESYSTEM_H

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A real tmpfs of a given size, mounted for as long as the object lives:
// writes beyond its size fail as on a full disk. Mounting needs root; the
// tests that use it run as root (CI does) and fail when it is not mounted.
class SmallFilesystem
{
public:
    // size as mount's "size=" option takes it ("1m", "2m"). Mounted on
    // mountPoint (an existing folder, mode 0755 like one), or without it on a
    // fresh temporary folder of its own (mode 1777 like /tmp).
    explicit SmallFilesystem(const QString& size, const QString& mountPoint = QString());
    ~SmallFilesystem();

    SmallFilesystem(const SmallFilesystem&) = delete;
    SmallFilesystem& operator=(const SmallFilesystem&) = delete;

    bool isMounted() const { return m_mounted; }
    // Why it is not mounted, in mount's words.
    QString error() const { return m_error; }
    QString path() const { return m_path; }

    // Makes it the temporary folder (TMPDIR) until it is unmounted.
    void becomeTemporaryFolder();

private:
    QTemporaryDir m_ownMountPoint;
    QString m_path;
    bool m_mounted = false;
    QString m_error;
    bool m_isTemporaryFolder = false;
    QByteArray m_oldTmpDir;
};

#endif
