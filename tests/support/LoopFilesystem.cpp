#include "LoopFilesystem.h"

#include <QProcess>
#include <QStringList>

namespace {

bool runTool(const QString& program, const QStringList& arguments, QString* error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ")
             + (process.error() == QProcess::UnknownError ? QString::fromLocal8Bit(process.readAll()).trimmed()
                                                           : process.errorString());
    return false;
}

} // namespace

bool LoopFilesystem::makeImage(const QString& image, int sizeMiB, QString* error)
{
    return runTool(QStringLiteral("truncate"), {QStringLiteral("-s"), QStringLiteral("%1M").arg(sizeMiB), image}, error)
           && runTool(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), image}, error);
}

bool LoopFilesystem::copyImage(const QString& from, const QString& to, QString* error)
{
    return runTool(QStringLiteral("cp"), {QStringLiteral("--sparse=always"), from, to}, error);
}

LoopFilesystem::LoopFilesystem(const QString& image, const QString& options)
{
    if (!m_mountPoint.isValid()) {
        m_error = m_mountPoint.errorString();
        return;
    }
    const QString all = options.isEmpty() ? QStringLiteral("loop") : QStringLiteral("loop,") + options;
    m_mounted = runTool(QStringLiteral("mount"), {QStringLiteral("-o"), all, image, m_mountPoint.path()}, &m_error);
    if (!m_mounted)
        m_error = QStringLiteral("mounting an ext4 image through a loop device (needs root): ") + m_error;
}

LoopFilesystem::~LoopFilesystem()
{
    unmount();
}

bool LoopFilesystem::unmount()
{
    if (m_mounted && runTool(QStringLiteral("umount"), {m_mountPoint.path()}, &m_error))
        m_mounted = false;
    return !m_mounted;
}
