#include "TinyProxyProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

TinyProxyProcess::TinyProxyProcess() = default;

TinyProxyProcess::~TinyProxyProcess()
{
    stop();
}

bool TinyProxyProcess::start(const QString& user, const QString& password)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"),
                                                           {QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin")});
    if (program.isEmpty()) {
        m_error = QStringLiteral("tinyproxy is not installed (scripts/install-deps.sh)");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            m_error = QStringLiteral("no free port");
            return false;
        }
        m_port = probe.serverPort();
    }

    QByteArray config;
    config += "Port " + QByteArray::number(m_port) + "\n";
    config += "Listen 127.0.0.1\n";
    config += "Timeout 60\n";
    config += "Allow 127.0.0.1\n";
    config += "MaxClients 20\n";
    config += "LogFile \"" + m_dir.filePath(QStringLiteral("tinyproxy.log")).toUtf8() + "\"\n";
    config += "LogLevel Info\n";
    // No ConnectPort line: CONNECT is allowed to every port.
    if (!user.isEmpty())
        config += "BasicAuth " + user.toUtf8() + " " + password.toUtf8() + "\n";
    const QString configPath = m_dir.filePath(QStringLiteral("tinyproxy.conf"));
    QFile configFile(configPath);
    if (!configFile.open(QIODevice::WriteOnly) || configFile.write(config) != config.size()) {
        m_error = QStringLiteral("cannot write %1").arg(configPath);
        return false;
    }
    configFile.close();

    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(program, {QStringLiteral("-d"), QStringLiteral("-c"), configPath});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("tinyproxy did not start: %1").arg(m_process.errorString());
        return false;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 10000) {
        if (m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("tinyproxy exited: %1").arg(log());
            return false;
        }
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    m_error = QStringLiteral("tinyproxy does not listen on port %1").arg(m_port);
    stop();
    return false;
}

void TinyProxyProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

quint16 TinyProxyProcess::port() const
{
    return m_port;
}

QString TinyProxyProcess::errorString() const
{
    return m_error;
}

QString TinyProxyProcess::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("tinyproxy.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool TinyProxyProcess::receivedConnectTo(quint16 port) const
{
    return log().contains(QStringLiteral("CONNECT 127.0.0.1:%1 HTTP/").arg(port));
}

bool TinyProxyProcess::carriedConnectTo(quint16 port) const
{
    return receivedConnectTo(port) && log().contains(QStringLiteral("opening connection to 127.0.0.1:%1").arg(port));
}
