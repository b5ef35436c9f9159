#include "SquidProcess.h"

#include <QFile>
#include <QProcess>

#include <pwd.h>
#include <unistd.h>

namespace {

// "$apr1$..." for the password's UTF-8 bytes, from openssl.
QByteArray apr1Hash(const QString& password)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {QStringLiteral("passwd"), QStringLiteral("-apr1"), QStringLiteral("-stdin")});
    if (!openssl.waitForStarted(5000))
        return QByteArray();
    openssl.write(password.toUtf8() + '\n');
    openssl.closeWriteChannel();
    if (!openssl.waitForFinished(5000) || openssl.exitCode() != 0)
        return QByteArray();
    return openssl.readAllStandardOutput().trimmed();
}

} // namespace

bool SquidProcess::start(const QList<Account>& accounts)
{
    m_port = freePort();
    QByteArray passwords;
    for (const Account& account : accounts) {
        const QByteArray hash = apr1Hash(account.second);
        if (!hash.startsWith("$apr1$"))
            return fail(QStringLiteral("openssl passwd -apr1 gave no hash"));
        passwords += account.first.toUtf8() + ':' + hash + '\n';
    }
    if (!writeFile(QStringLiteral("passwd"), passwords))
        return false;

    const QByteArray dir = QFile::encodeName(folder());
    QByteArray config;
    config += "http_port 127.0.0.1:" + QByteArray::number(m_port) + "\n";
    config += "pid_filename " + dir + "/squid.pid\n";
    config += "cache_log " + dir + "/cache.log\n";
    config += "logformat test %rm %ru %>Hs %un agent=\"%{User-Agent}>h\"\n";
    config += "access_log stdio:" + dir + "/access.log test\n";
    config += "coredump_dir " + dir + "\n";
    // Nothing leaves the machine: no cache, no ICMP pinger, and a name
    // server on loopback should it ever look a name up.
    config += "cache deny all\ncache_mem 8 MB\npinger_enable off\nnetdb_filename none\n";
    config += "dns_nameservers 127.0.0.1\nvisible_hostname localhost\n";
    config += "shutdown_lifetime 0 seconds\n";
    config += "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + dir + "/passwd\n";
    config += "auth_param basic realm updater-test\n";
    config += "acl authenticated proxy_auth REQUIRED\n";
    config += "http_access allow authenticated\nhttp_access deny all\n";
    if (!writeFile(QStringLiteral("squid.conf"), config))
        return false;

    // Run as root, squid works as the user "proxy": the folder and its files
    // must be that user's.
    if (const passwd* proxy = getpwnam("proxy")) {
        for (const QString& name : {QString(), QStringLiteral("passwd"), QStringLiteral("squid.conf")}) {
            const QByteArray path = QFile::encodeName(name.isEmpty() ? folder() : filePath(name));
            if (::chown(path.constData(), proxy->pw_uid, proxy->pw_gid) != 0)
                return fail(QStringLiteral("cannot hand %1 to the user proxy").arg(QString::fromLocal8Bit(path)));
        }
    }
    return run(QStringLiteral("squid"), QStringLiteral("squid"),
               {QStringLiteral("-N"), QStringLiteral("-d"), QStringLiteral("1"), QStringLiteral("-f"),
                filePath(QStringLiteral("squid.conf"))},
               m_port, QStringLiteral("cache.log"));
}
