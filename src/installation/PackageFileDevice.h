#ifndef PACKAGEFILEDEVICE_H
#define PACKAGEFILEDEVICE_H

#include <QByteArray>
#include <QFile>
#include <QIODevice>

// A package file, read for the zip reader through two windows of its bytes.
// The zip reader seeks and reads a few bytes at a time, going to and fro
// between an entry's record in the central directory at the end of the
// archive and its header and data further up; here a seek costs nothing and
// a read outside both windows refills the one used longer ago with one read
// of the file. The file is neither mapped nor held whole, so reading a
// package costs the memory of the windows whatever its size.
class PackageFileDevice : public QIODevice
{
public:
    static const int WindowSize = 64 * 1024;

    explicit PackageFileDevice(const QString& path);

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return false; }
    qint64 size() const override;
    bool seek(qint64 position) override;
    QString fileErrorString() const { return m_file.errorString(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    struct Window {
        QByteArray bytes;
        qint64 start = 0;
        qint64 length = 0;
    };
    int windowHolding(qint64 position) const;
    const Window* windowAt(qint64 position, int holding);

    QFile m_file;
    Window m_windows[2];
    int m_lastUsed = 0;
    qint64 m_size = 0;
};

#endif
