// Renders the module's dialogs and keyboard in one language to PNG files, as
// an X server shows them: ui_screenshots LANGUAGE_ID OUTPUT_FOLDER
// (0 Polish, 1 English, 2 Croatian). Run under Xvfb by scripts/screenshots.sh.

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include "controller/CDefaultLibraryTestAccess.h"
#include "module/ResourceBundle.h"
#include "ui/CConnectionWarning.h"
#include "ui/CKeyboardWindow.h"
#include "ui/CMessageBox.h"
#include "ui/CProxySettings.h"
#include "ui/StyleSheet.h"
#include "ui/TranslationLoader.h"

namespace {

bool grab(QWidget* window, const QString& path)
{
    window->move(40, 40);
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    QTest::qWait(500);
    // The frame too, title bar and window icon included, when a window
    // manager draws one.
    const QRect frame = window->frameGeometry();
    const QPixmap pixmap = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    window->hide();
    return pixmap.save(path, "PNG");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // As in a host: a window without a title of its own shows this name.
    QCoreApplication::setApplicationName(QStringLiteral("updater-host"));
    if (argc != 3) {
        std::fprintf(stderr, "usage: ui_screenshots LANGUAGE_ID OUTPUT_FOLDER\n");
        return 2;
    }
    const QString id = QString::fromLocal8Bit(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[2]));
    ResourceBundle::registerBundle();
    // The application font that the export sets up before the first dialog.
    QFont font;
    font.setFamily(font.defaultFamily());
    font.setPointSize(9);
    QApplication::setFont(font);

    CDefaultLibrary library(nullptr);
    const QString suffix = CDefaultLibraryTestAccess(library).getLanguageSuffix({{"languageId", QVariant(id)}});
    TranslationLoader translations(suffix, QStringLiteral(":/updater/translations/"), nullptr);
    const QString styleSheet = QStringLiteral(":/updater/qss/style.css");
    const QString tag = suffix.isEmpty() ? QStringLiteral("pl") : suffix;

    bool ok = true;
    {
        CConnectionWarning warning(nullptr);
        applyStyleSheet(styleSheet, &warning);
        ok = grab(&warning, out.filePath(QStringLiteral("connection-warning-%1.png").arg(tag))) && ok;
    }
    {
        CProxySettings proxy(nullptr);
        applyStyleSheet(styleSheet, &proxy);
        ok = grab(&proxy, out.filePath(QStringLiteral("proxy-settings-%1.png").arg(tag))) && ok;
        proxy.addressLineEdit->setText(QStringLiteral("proxy.example.com"));
        proxy.portLineEdit->setText(QStringLiteral("3128"));
        proxy.usePassCheckbox->setChecked(true);
        proxy.userLineEdit->setText(QStringLiteral("jan.kowalski"));
        proxy.passLineEdit->setText(QStringLiteral("secret"));
        ok = grab(&proxy, out.filePath(QStringLiteral("proxy-settings-filled-%1.png").arg(tag))) && ok;

        CMessageBox box(QMessageBox::Warning, CProxySettings::tr("Attention"),
                        CProxySettings::tr("Server address not entered"), QMessageBox::Ok, nullptr,
                        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
        applyStyleSheet(styleSheet, &box);
        ok = grab(&box, out.filePath(QStringLiteral("message-box-%1.png").arg(tag))) && ok;
    }
    if (tag == QLatin1String("pl")) {
        // The keyboard has no translated texts: its layers once.
        CKeyboardWindow keyboard(nullptr);
        applyStyleSheet(styleSheet, &keyboard);
        QLineEdit target;
        keyboard.setTarget(&target);
        ok = grab(&keyboard, out.filePath(QStringLiteral("keyboard.png"))) && ok;
        QMetaObject::invokeMethod(&keyboard, "on_alt_clicked");
        QMetaObject::invokeMethod(&keyboard, "on_shift_clicked");
        ok = grab(&keyboard, out.filePath(QStringLiteral("keyboard-alt-shift.png"))) && ok;
        QMetaObject::invokeMethod(&keyboard, "on_alt_clicked");
        QMetaObject::invokeMethod(&keyboard, "on_shift_clicked");
        QMetaObject::invokeMethod(&keyboard, "on_char_2_clicked");
        ok = grab(&keyboard, out.filePath(QStringLiteral("keyboard-symbols.png"))) && ok;
    }
    return ok ? 0 : 1;
}
