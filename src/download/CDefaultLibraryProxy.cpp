// Proxy of the download, from the host's proxy settings.

#include "controller/CDefaultLibrary.h"

void CDefaultLibrary::setProxy(QByteArray)
{
}

QNetworkProxy CDefaultLibrary::createNetworkProxyFromProxySettingsData(QByteArray)
{
    return QNetworkProxy(QNetworkProxy::HttpProxy);
}
