#include "SmallFilesystem.h"

#include <QFile>
#include <QProcess>

SmallFilesystem::SmallFilesystem(const QString& size, const QString& mountPoint)
    : m_path(mountPoint.isEmpty() ? m_ownMountPoint.path() : mountPoint)
{
    if (mountPoint.isEmpty() && !m_ownMountPoint.isValid()) {
        m_error = m_ownMountPoint.errorString();
        return;
    }
    QString options = QStringLiteral("size=") + size;
    if (!mountPoint.isEmpty())
        options += QStringLiteral(",mode=0755");
    QProcess mount;
    mount.setProcessChannelMode(QProcess::MergedChannels);
    mount.start(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), options, QStringLiteral("tmpfs"), m_path});
    m_mounted = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
    if (!m_mounted)
        m_error = QStringLiteral("mounting a tmpfs on %1 (needs root): %2")
                      .arg(m_path, mount.error() == QProcess::UnknownError ? QString::fromLocal8Bit(mount.readAll())
                                                                            : mount.errorString());
}

SmallFilesystem::~SmallFilesystem()
{
    if (m_isTemporaryFolder) {
        if (m_oldTmpDir.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_oldTmpDir);
    }
    if (m_mounted)
        QProcess::execute(QStringLiteral("umount"), {m_path});
}

void SmallFilesystem::becomeTemporaryFolder()
{
    if (!m_isTemporaryFolder)
        m_oldTmpDir = qgetenv("TMPDIR");
    m_isTemporaryFolder = true;
    qputenv("TMPDIR", QFile::encodeName(m_path));
}
