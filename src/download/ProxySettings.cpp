#include "ProxySettings.h"

#include <QList>

#include "logging/Log.h"

namespace {

const char* const kPasswordMask = "***";

} // namespace

ProxySettings::ProxySettings(QByteArray proxyText)
{
    LOG_UPDATER(INFO) << "ProxySettings::ProxySettings :: v_oProxySettings="
                      << QString::fromUtf8(maskedProxyText(proxyText));

    const QList<QByteArray> oFields = proxyText.split('|');
    LOG_UPDATER(INFO) << "ProxySettings::ProxySettings :: oFields.size()=" << oFields.size();

    if (oFields.size() > 0)
        hostName = QString::fromUtf8(oFields.at(0));
    if (oFields.size() > 1) {
        bool ok = false;
        const uint value = oFields.at(1).toUInt(&ok);
        port = (ok && value <= 65535) ? static_cast<quint16>(value) : 0;
    }
    if (oFields.size() > 2)
        userName = QString::fromUtf8(oFields.at(2));
    if (oFields.size() > 3)
        password = QString::fromUtf8(oFields.at(3));
}

QString ProxySettings::getHostName() const
{
    return hostName;
}

quint16 ProxySettings::getPort() const
{
    return port;
}

QString ProxySettings::getUserName() const
{
    return userName;
}

QString ProxySettings::getPassword() const
{
    return password;
}

QByteArray ProxySettings::maskedProxyText(const QByteArray& proxyText)
{
    int separator = -1;
    for (int i = 0; i < 3; ++i) {
        separator = proxyText.indexOf('|', separator + 1);
        if (separator < 0)
            return proxyText;
    }
    if (separator + 1 >= proxyText.size())
        return proxyText;
    return proxyText.left(separator + 1) + kPasswordMask;
}

QByteArray ProxySettings::maskedTransportForm(const QByteArray& transportForm)
{
    return maskedProxyText(QByteArray::fromHex(transportForm)).toHex();
}

QString ProxySettings::maskedPassword(const QString& password)
{
    return password.isEmpty() ? QString() : QString::fromLatin1(kPasswordMask);
}

bool ProxySettings::isTransportForm(const QByteArray& text)
{
    if (text.size() % 2 != 0)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}
