#include "SmallTemporaryFolder.h"

#include <QProcess>

SmallTemporaryFolder::SmallTemporaryFolder()
    : m_oldTmpDir(qgetenv("TMPDIR"))
{
    if (!m_mountPoint.isValid())
        return;
    m_mounted = QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                                            QStringLiteral("-o"), QStringLiteral("size=1m"),
                                                            QStringLiteral("tmpfs"), m_mountPoint.path()})
                == 0;
    if (m_mounted)
        qputenv("TMPDIR", m_mountPoint.path().toLocal8Bit());
}

SmallTemporaryFolder::~SmallTemporaryFolder()
{
    if (m_oldTmpDir.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", m_oldTmpDir);
    if (m_mounted)
        QProcess::execute(QStringLiteral("umount"), {m_mountPoint.path()});
}
