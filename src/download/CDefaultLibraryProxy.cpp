// Proxy of the download, from the host's proxy settings.
//
// The proxy password never reaches the log: the proxy text and its
// transport form are logged with the password masked, and so is the
// password read back from the built proxy.

#include "controller/CDefaultLibrary.h"

#include "ProxySettings.h"
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

QNetworkProxy CDefaultLibrary::createNetworkProxyFromProxySettingsData(QByteArray proxySettingsData)
{
    const ProxySettings settings(QByteArray::fromHex(proxySettingsData));
    const QNetworkProxy proxy(QNetworkProxy::HttpProxy, settings.getHostName(), settings.getPort(),
                              settings.getUserName(), settings.getPassword());

    const char* const prefix = "CDefaultLibrary::createNetworkProxyFromProxySettingsData :: ";
    LOG_UPDATER(INFO) << prefix << "hostName=" << proxy.hostName();
    LOG_UPDATER(INFO) << prefix << "port=" << proxy.port();
    LOG_UPDATER(INFO) << prefix << "username=" << proxy.user();
    LOG_UPDATER(INFO) << prefix << "pass=" << ProxySettings::maskedPassword(proxy.password());
    LOG_UPDATER(INFO) << prefix << "type=" << static_cast<int>(proxy.type());
    return proxy;
}
