// The connection warning flow: after a failed download, tell the user and
// let them enter proxy settings, which go back to the host.

#include "CDefaultLibrary.h"

#include <QApplication>

#include <updater/BaseException.h>
#include <updater/OperationCancelledException.h>

#include "logging/Log.h"
#include "module/FaultInjection.h"
#include "module/ResultTexts.h"
#include "ui/CConnectionWarning.h"
#include "ui/CProxySettings.h"
#include "ui/GuiThread.h"
#include "ui/StyleSheet.h"
#include "ui/TranslationLoader.h"

namespace {

const char* const StyleSheetPath = ":/updater/qss/style.css";

} // namespace

QByteArray CDefaultLibrary::ShowConnectionWarning(const QMap<QByteArray, QByteArray>& request,
                                                  const QMap<QByteArray, QVariant>& context)
{
    const QString suffix = getLanguageSuffix(context);
    TranslationLoader translations(suffix, QStringLiteral(":/updater/translations/"), nullptr);
    // The module's style sheet and window icon go on its own dialogs only
    // (getProxySettingsFromUser): the host's application keeps its look.

    const QByteArray code = request.value("connectionErrorCode", QByteArray());
    LOG_UPDATER(INFO) << "CDefaultLibrary::ShowConnectionWarning :: previusConnectionErrorCode=" << code.constData();

    // Widgets can only be made on the thread of a QApplication; anywhere
    // else they would bring the host down.
    if (!isGuiThread() || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::ShowConnectionWarning :: Dialogs need the GUI thread of a "
                             "QApplication.";
        return ResultTexts::networkProxyError(QString::fromUtf8(code)).serialize();
    }

    try {
        const QByteArray proxyText = getProxySettingsFromUser();
        if (!proxyText.isEmpty())
            return ResultTexts::proxySettingsSet(QString::fromLatin1(proxyText.toHex())).serialize();
    } catch (const OperationCancelledException&) {
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::ShowConnectionWarning :: Operation cancelled";
        return ResultTexts::operationAborted().serialize();
    } catch (BaseException& e) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::ShowConnectionWarning :: Operation failed. Other error.";
        LOG_UPDATER(WARN) << "CDefaultLibrary::ShowConnectionWarning :: Exception: " << e.getStackTrace();
    }
    return ResultTexts::networkProxyError(QString::fromUtf8(code)).serialize();
}

QByteArray CDefaultLibrary::getProxySettingsFromUser()
{
    const QString styleSheetPath = QString::fromLatin1(StyleSheetPath);
    CConnectionWarning warning(nullptr);
    applyStyleSheet(styleSheetPath, &warning);
    if (warning.exec() == 1) {
        UPDATER_FAULT_POINT("connection-warning-dialogs");
        // The keyboard and the message boxes are its children and take
        // the sheet from it.
        CProxySettings settings(nullptr);
        applyStyleSheet(styleSheetPath, &settings);
        if (settings.exec() == 1)
            return createProxySettingsDataFromDialog(settings);
    }
    return QByteArray();
}

QByteArray CDefaultLibrary::createProxySettingsDataFromDialog(CProxySettings& dialog)
{
    QByteArray data;
    data.append(dialog.getAddress().toUtf8());
    data.append('|');
    data.append(dialog.getPort().toUtf8());
    data.append('|');
    data.append(dialog.getUser().toUtf8());
    data.append('|');
    data.append(dialog.getPassword().toUtf8());
    return data;
}
