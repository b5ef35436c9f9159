#ifndef PROXYSETTINGS_H
#define PROXYSETTINGS_H

#include <QByteArray>
#include <QString>

// The proxy the user entered, parsed from the proxy text
// "host|port|user|password" (UTF-8, already hex-decoded). The text is split
// at every "|", and the fields that exist fill the record by position; a
// missing field keeps its default and a port that is not a number from 0 to
// 65535 reads as 0.
class ProxySettings
{
public:
    ProxySettings() = default;
    explicit ProxySettings(QByteArray proxyText);

    QString getHostName() const;
    quint16 getPort() const;
    QString getUserName() const;
    QString getPassword() const;

    // The text that may go into the log: everything after the third "|"
    // (the password, including any "|" typed into it) becomes "***" when it
    // is not empty.
    static QByteArray maskedProxyText(const QByteArray& proxyText);
    // The same for the hexadecimal transport form: decoded, masked and
    // encoded again.
    static QByteArray maskedTransportForm(const QByteArray& transportForm);
    // What a password looks like in the log.
    static QString maskedPassword(const QString& password);
    // Whether the text is a transport form: empty, or pairs of hexadecimal
    // digits (either case).
    static bool isTransportForm(const QByteArray& text);

private:
    QString hostName;
    quint16 port = 0;
    QString userName;
    QString password;
};

#endif
