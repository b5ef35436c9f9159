#ifndef SQUIDPROCESS_H
#define SQUIDPROCESS_H

#include <QList>
#include <QPair>

#include "ServerProcess.h"

// Debian's squid on a free loopback port as an authenticating HTTP proxy:
// Basic authentication against an htpasswd file (basic_ncsa_auth, apr1
// hashes of the passwords' UTF-8 bytes), CONNECT to any port, no cache.
// Its access log names each request's method, target, status and user, and
// the User-Agent it came with.
class SquidProcess : public ServerProcess
{
public:
    using Account = QPair<QString, QString>; // user name, password

    bool start(const QList<Account>& accounts);
    quint16 port() const { return m_port; }
    QString accessLog() const { return fileText(QStringLiteral("access.log")); }

private:
    quint16 m_port = 0;
};

#endif
