#ifndef LOOPFILESYSTEM_H
#define LOOPFILESYSTEM_H

#include <QString>
#include <QTemporaryDir>

// An ext4 file system in an image file, mounted through a loop device for as
// long as the object lives (root only; the tests that use it run as root and
// fail when it cannot be mounted).
//
// Mounted with a long commit interval, only what a program flushes reaches
// the image: a copy of the image taken while the program stands still is
// what a power cut at that moment would leave on a disk, and mounting the
// copy replays the file system's journal as the next boot would.
class LoopFilesystem
{
public:
    // Makes an empty ext4 image of sizeMiB.
    static bool makeImage(const QString& image, int sizeMiB, QString* error);
    // Copies an image as it stands (holes stay holes).
    static bool copyImage(const QString& from, const QString& to, QString* error);

    // Mounts the image on a fresh folder of its own, with mount's options
    // ("commit=600", say) besides "loop".
    explicit LoopFilesystem(const QString& image, const QString& options = QString());
    ~LoopFilesystem();
    LoopFilesystem(const LoopFilesystem&) = delete;
    LoopFilesystem& operator=(const LoopFilesystem&) = delete;

    bool isMounted() const { return m_mounted; }
    QString error() const { return m_error; }
    QString path() const { return m_mountPoint.path(); }
    bool unmount();

private:
    QTemporaryDir m_mountPoint;
    bool m_mounted = false;
    QString m_error;
};

#endif
