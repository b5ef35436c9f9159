#include "NginxProcess.h"

#include <QDir>
#include <QFile>

NginxProcess::NginxProcess()
    : m_http2Port(freePort())
    , m_http1Port(freePort())
    , m_plainPort(freePort())
{
}

QString NginxProcess::root() const
{
    return filePath(QStringLiteral("www"));
}

QString NginxProcess::url(const QString& path) const
{
    return QStringLiteral("https://127.0.0.1:%1%2").arg(m_http2Port).arg(path);
}

bool NginxProcess::start(const QByteArray& serverDirectives)
{
    const TestCertificate certificate = TestCertificate::generate({QStringLiteral("nginx-test")});
    if (certificate.isNull() || !writeFile(QStringLiteral("cert.pem"), certificate.certificatePem())
        || !writeFile(QStringLiteral("key.pem"), certificate.privateKey().toPem()))
        return fail(QStringLiteral("no certificate for nginx"));
    if (!QDir().mkpath(root()) || !QDir().mkpath(filePath(QStringLiteral("temp"))))
        return fail(QStringLiteral("cannot create nginx's folders"));

    const QByteArray dir = QFile::encodeName(folder());
    const QByteArray temp = dir + "/temp";
    QByteArray config;
    // One process, in the foreground: it is the test's child and runs as
    // the test's user.
    config += "master_process off;\ndaemon off;\n";
    config += "error_log " + dir + "/error.log info;\npid " + dir + "/nginx.pid;\n";
    config += "events { worker_connections 256; }\n";
    config += "http {\n";
    config += "  log_format test '$request_uri $status $server_protocol $server_port connection=$connection "
              "requests=$connection_requests gzip=$gzip_ratio agent=\"$http_user_agent\"';\n";
    config += "  access_log " + dir + "/access.log test;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        config += QByteArray("  ") + kind + "_temp_path " + temp + ";\n";
    config += "  default_type application/octet-stream;\n";
    config += "  keepalive_timeout 60s;\n";
    config += "  gzip on;\n  gzip_types *;\n  gzip_min_length 1;\n";
    config += "  ssl_certificate " + dir + "/cert.pem;\n  ssl_certificate_key " + dir + "/key.pem;\n";
    config += "  root " + dir + "/www;\n";
    config += "  server {\n";
    config += "    listen 127.0.0.1:" + QByteArray::number(m_http2Port) + " ssl http2;\n";
    config += "    listen 127.0.0.1:" + QByteArray::number(m_http1Port) + " ssl;\n";
    config += "    listen 127.0.0.1:" + QByteArray::number(m_plainPort) + ";\n";
    config += serverDirectives;
    config += "\n  }\n}\n";
    if (!writeFile(QStringLiteral("nginx.conf"), config))
        return false;
    return run(QStringLiteral("nginx"), QStringLiteral("nginx"),
               {QStringLiteral("-p"), folder(), QStringLiteral("-e"), filePath(QStringLiteral("error.log")),
                QStringLiteral("-c"), filePath(QStringLiteral("nginx.conf"))},
               m_http2Port, QStringLiteral("error.log"));
}
