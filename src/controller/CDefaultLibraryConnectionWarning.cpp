// The connection warning flow: dialogs after a failed download.

#include "CDefaultLibrary.h"

#include "module/ResultTexts.h"

QByteArray CDefaultLibrary::ShowConnectionWarning(const QMap<QByteArray, QByteArray>& request,
                                                  const QMap<QByteArray, QVariant>&)
{
    // Until the dialogs exist the host gets back the error it passed in.
    return ResultTexts::networkProxyError(QString::fromUtf8(request.value("connectionErrorCode", QByteArray())))
        .serialize();
}

QByteArray CDefaultLibrary::getProxySettingsFromUser()
{
    return QByteArray();
}

QByteArray CDefaultLibrary::createProxySettingsDataFromDialog(CProxySettings&)
{
    return QByteArray();
}
