// Proxy of the download, from the host's proxy settings.
//
// The proxy password never reaches the log: the proxy text and its
// transport form are logged with the password masked, and so is the
// password read back from the built proxy.

#include "controller/CDefaultLibrary.h"

#include "ProxySettings.h"
#include "UserAgent.h"
#include "logging/Log.h"

void CDefaultLibrary::setProxy(QByteArray proxySettingsData)
{
    LOG_UPDATER(INFO) << "CDefaultLibrary::setProxy :: proxySettingsData="
                      << ProxySettings::maskedTransportForm(proxySettingsData).constData();

    if (!proxySettingsData.isEmpty() && m_NetManager) {
        m_NetManager->setProxy(createNetworkProxyFromProxySettingsData(proxySettingsData));
        return;
    }

    LOG_UPDATER(NOTICE) << "CDefaultLibrary::setProxy :: proxySettingsData.isEmpty()="
                        << (proxySettingsData.isEmpty() ? "true" : "false")
                        << "; m_NetManager.isNull=" << (m_NetManager ? "false" : "true");
}

namespace {

// Qt 5.15 builds the Basic (and Digest) answer to a proxy from the Latin-1
// bytes of the user name and password, whatever the challenge says: a
// character outside Latin-1 goes out as "?", and "ü" as one byte that no
// UTF-8 password file holds. Proxies and their password files expect UTF-8
// (RFC 7617, as curl and browsers send it), so the proxy is given the text
// whose Latin-1 bytes are the UTF-8 bytes. ASCII stays as it is.
QString asUtf8Bytes(const QString& text)
{
    return QString::fromLatin1(text.toUtf8());
}

QString fromUtf8Bytes(const QString& text)
{
    return QString::fromUtf8(text.toLatin1());
}

} // namespace

QNetworkProxy CDefaultLibrary::createNetworkProxyFromProxySettingsData(QByteArray proxySettingsData)
{
    const ProxySettings settings(QByteArray::fromHex(proxySettingsData));
    QNetworkProxy proxy(QNetworkProxy::HttpProxy, settings.getHostName(), settings.getPort(),
                        asUtf8Bytes(settings.getUserName()), asUtf8Bytes(settings.getPassword()));
    // Sent with the CONNECT request (Qt sends "Mozilla/5.0" otherwise).
    proxy.setRawHeader("User-Agent", userAgent());

    const char* const prefix = "CDefaultLibrary::createNetworkProxyFromProxySettingsData :: ";
    LOG_UPDATER(INFO) << prefix << "hostName=" << proxy.hostName();
    LOG_UPDATER(INFO) << prefix << "port=" << proxy.port();
    LOG_UPDATER(INFO) << prefix << "username=" << fromUtf8Bytes(proxy.user());
    LOG_UPDATER(INFO) << prefix << "pass=" << ProxySettings::maskedPassword(proxy.password());
    LOG_UPDATER(INFO) << prefix << "type=" << static_cast<int>(proxy.type());
    return proxy;
}
