#include "ServerProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>

#include <sys/prctl.h>

void ServerProcess::ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

ServerProcess::ServerProcess() = default;

ServerProcess::~ServerProcess()
{
    stop();
}

quint16 ServerProcess::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString ServerProcess::fileText(const QString& name) const
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool ServerProcess::writeFile(const QString& name, const QByteArray& content)
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return fail(QStringLiteral("cannot write %1").arg(file.fileName()));
    return true;
}

bool ServerProcess::fail(const QString& error)
{
    m_error = error;
    return false;
}

bool ServerProcess::run(const QString& program, const QString& package, const QStringList& arguments, quint16 port,
                        const QString& logName)
{
    const QString path =
        QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (path.isEmpty())
        return fail(QStringLiteral("%1 is not installed (the Debian package %2; scripts/install-deps.sh)")
                        .arg(program, package));
    if (!m_dir.isValid() || port == 0)
        return fail(QStringLiteral("no temporary folder or no free port"));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("output.txt")));
    m_process.start(path, arguments);
    if (!m_process.waitForStarted(5000))
        return fail(QStringLiteral("%1 did not start: %2").arg(program, m_process.errorString()));
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 15000) {
        if (m_process.state() != QProcess::Running)
            return fail(QStringLiteral("%1 exited: %2%3")
                            .arg(program, fileText(QStringLiteral("output.txt")), fileText(logName)));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    stop();
    return fail(QStringLiteral("%1 does not listen on port %2: %3").arg(program).arg(port).arg(fileText(logName)));
}

void ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}
