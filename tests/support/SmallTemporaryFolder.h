#ifndef SMALLTEMPORARYFOLDER_H
#define SMALLTEMPORARYFOLDER_H

#include <QByteArray>
#include <QTemporaryDir>

// A real 1 MiB tmpfs as the temporary folder (TMPDIR), for as long as it
// lives: writes beyond that size fail as on a full disk. Mounting needs root.
class SmallTemporaryFolder
{
public:
    SmallTemporaryFolder();
    ~SmallTemporaryFolder();

    SmallTemporaryFolder(const SmallTemporaryFolder&) = delete;
    SmallTemporaryFolder& operator=(const SmallTemporaryFolder&) = delete;

    bool isMounted() const { return m_mounted; }

private:
    QByteArray m_oldTmpDir;
    QTemporaryDir m_mountPoint;
    bool m_mounted = false;
};

#endif
