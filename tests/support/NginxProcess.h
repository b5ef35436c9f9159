#ifndef NGINXPROCESS_H
#define NGINXPROCESS_H

#include "ServerProcess.h"
#include "TestCertificate.h"

// Debian's nginx on 127.0.0.1, one server on three ports: HTTPS with HTTP/2
// offered (ALPN), HTTPS with HTTP/1.1 only, and plain HTTP. It serves the
// folder root() with keep-alive and gzip on (for every type), a self-signed
// certificate, and the test's own directives (locations) inside the server.
// Its access log names each request's protocol, status, connection and
// gzip ratio.
class NginxProcess : public ServerProcess
{
public:
    NginxProcess();

    // The ports are chosen before start(), so that directives can name them.
    quint16 http2Port() const { return m_http2Port; }
    quint16 http1Port() const { return m_http1Port; }
    quint16 plainPort() const { return m_plainPort; }
    QString root() const;
    // "https://127.0.0.1:<HTTP/2 port><path>"
    QString url(const QString& path) const;

    bool start(const QByteArray& serverDirectives = QByteArray());
    QString accessLog() const { return fileText(QStringLiteral("access.log")); }

private:
    quint16 m_http2Port;
    quint16 m_http1Port;
    quint16 m_plainPort;
};

#endif
