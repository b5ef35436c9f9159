#ifndef PACKAGEFILEDEVICE_H
#define PACKAGEFILEDEVICE_H

#include <QByteArray>
#include <QFile>
#include <QIODevice>

// A package file, read for the zip reader through a window of its bytes.
// The zip reader seeks and reads a few bytes at a time (an entry's header,
// its name, then its data); here a seek costs nothing and a read outside the
// window fills the window with one read of the file. The file is neither
// mapped nor held whole, so reading a package costs the memory of the window
// whatever its size.
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
    QFile m_file;
    QByteArray m_window;
    qint64 m_windowStart = 0;
    qint64 m_windowLength = 0;
};

#endif
