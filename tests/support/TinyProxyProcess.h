#ifndef TINYPROXYPROCESS_H
#define TINYPROXYPROCESS_H

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real HTTP proxy (Debian's tinyproxy) on a free loopback port, run in
// the foreground with a configuration and log of its own. It allows CONNECT
// to every port; with a user name it asks for Basic authentication. The
// process is killed when the object goes.
class TinyProxyProcess
{
public:
    TinyProxyProcess();
    ~TinyProxyProcess();

    TinyProxyProcess(const TinyProxyProcess&) = delete;
    TinyProxyProcess& operator=(const TinyProxyProcess&) = delete;

    // Starts the proxy and waits until it accepts connections.
    bool start(const QString& user = QString(), const QString& password = QString());
    void stop();

    quint16 port() const;
    QString errorString() const;
    // What the proxy logged so far.
    QString log() const;
    // Whether a CONNECT to 127.0.0.1:<port> reached the proxy.
    bool receivedConnectTo(quint16 port) const;
    // Whether the proxy also opened the connection to that port for it
    // (it does not when the client fails to authenticate).
    bool carriedConnectTo(quint16 port) const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

#endif
