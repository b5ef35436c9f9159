// Translations, style sheet, window icon and the mouse simulator's
// behaviour without an X display.

#include <QtTest>

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>

#include "controller/CDefaultLibraryTestAccess.h"
#include "module/ResourceBundle.h"
#include "ui/CConnectionWarning.h"
#include "ui/CMessageBox.h"
#include "ui/MouseSimulator.h"
#include "ui/StyleSheet.h"
#include "ui/TranslationLoader.h"

namespace {

const char* const kFolder = ":/updater/translations/";

QString connectionError()
{
    return QCoreApplication::translate("CConnectionWarning", "Connection error");
}

} // namespace

class TestUiStyle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void translationsForLanguageId_data();
    void translationsForLanguageId();
    void loaderCodes_data();
    void loaderCodes();
    void windowIconPath_data();
    void windowIconPath();
    void styleSheetAndIcon();
    void mouseSimulatorWithoutDisplay();
};

void TestUiStyle::initTestCase()
{
    QVERIFY(ResourceBundle::registerBundle());
}

void TestUiStyle::translationsForLanguageId_data()
{
    QTest::addColumn<QVariant>("languageId");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("okButton");
    QTest::addColumn<QString>("cancel"); // Qt's own button box caption

    const QString polish = QString::fromUtf8("Błąd połączenia");
    QTest::newRow("0 Polish") << QVariant("0") << polish << "Ok" << "Anuluj";
    QTest::newRow("0 as a number") << QVariant(0) << polish << "Ok" << "Anuluj";
    QTest::newRow("1 English") << QVariant("1") << "Connection error" << "Ok" << "Cancel";
    QTest::newRow("2 Croatian") << QVariant("2") << "Greška u spajanju" << "Ok" << "Cancel";
    // An unknown or missing id has no suffix, which means Polish.
    QTest::newRow("unknown id") << QVariant("9") << polish << "Ok" << "Anuluj";
    QTest::newRow("no id") << QVariant() << polish << "Ok" << "Anuluj";
}

void TestUiStyle::translationsForLanguageId()
{
    QFETCH(QVariant, languageId);
    QFETCH(QString, title);
    QFETCH(QString, okButton);
    QFETCH(QString, cancel);

    QMap<QByteArray, QVariant> context;
    if (languageId.isValid())
        context.insert("languageId", languageId);
    CDefaultLibrary library(nullptr);
    const QString suffix = CDefaultLibraryTestAccess(library).getLanguageSuffix(context);
    {
        TranslationLoader loader(suffix, QString::fromLatin1(kFolder), nullptr);
        QCOMPARE(connectionError(), title);
        CConnectionWarning dialog(nullptr);
        QCOMPARE(dialog.windowTitle(), title);
        QCOMPARE(dialog.okButton->text(), okButton);
        QDialogButtonBox box(QDialogButtonBox::Cancel);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), cancel);
    }
    // Gone with the loader.
    QCOMPARE(connectionError(), QStringLiteral("Connection error"));
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancel"));
}

void TestUiStyle::loaderCodes_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("hr") << "hr" << kFolder << "Greška u spajanju";
    QTest::newRow("de installs nothing") << "de" << kFolder << "Connection error";
    QTest::newRow("missing folder") << "pl" << ":/updater/nothing/" << "Connection error";
}

void TestUiStyle::loaderCodes()
{
    QFETCH(QString, language);
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    {
        TranslationLoader loader(language, folder, nullptr);
        QCOMPARE(connectionError(), expected);
        // Loading again replaces what the loader installed; nothing is left
        // behind when it goes.
        loader.load(folder);
        QCOMPARE(connectionError(), expected);
    }
    QCOMPARE(connectionError(), QStringLiteral("Connection error"));
}

void TestUiStyle::windowIconPath_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("path");
    QFile module(QStringLiteral(":/updater/qss/style.css"));
    QVERIFY(module.open(QIODevice::ReadOnly));
    QTest::newRow("module sheet") << QString::fromUtf8(module.readAll()) << ":/updater/images/windowIcon.ico";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("no property") << "QWidget { color: red; }" << "";
    QTest::newRow("other case") << "QWidget { qproperty-windowicon: url(:/a.ico); }" << "";
    QTest::newRow("last line") << "QDialog {\n qproperty-windowIcon:url(/tmp/x.png);" << "/tmp/x.png";
    QTest::newRow("first of two") << "qproperty-windowIcon: url(:/a.ico);\nqproperty-windowIcon: url(:/b.ico);\n"
                                  << ":/a.ico";
    QTest::newRow("too short") << "qproperty-windowIcon: x;" << "";
    QTest::newRow("no url") << "qproperty-windowIcon:;\n" << "";
}

void TestUiStyle::windowIconPath()
{
    QFETCH(QString, sheet);
    QFETCH(QString, path);
    QCOMPARE(windowIconPathFromStyleSheet(sheet), path);
}

void TestUiStyle::styleSheetAndIcon()
{
    // The host's own sheet and icon, and a window of its own.
    const QString hostSheet = QStringLiteral("QLabel { color: rgb(1, 2, 3); }");
    qApp->setStyleSheet(hostSheet);
    const QIcon hostIcon(QStringLiteral(":/updater/images/keyboard.ico"));
    QGuiApplication::setWindowIcon(hostIcon);
    QWidget hostWindow;
    hostWindow.setWindowIcon(hostIcon);
    hostWindow.show();

    // A sheet that does not open changes nothing.
    CConnectionWarning unstyled(nullptr);
    applyStyleSheet(QStringLiteral(":/updater/qss/missing.css"), &unstyled);
    QCOMPARE(unstyled.styleSheet(), QString());

    // The module's sheet goes on its window, with the icon it names, from
    // the first show on; the children of the window take it too.
    CConnectionWarning dialog(nullptr);
    applyStyleSheet(QStringLiteral(":/updater/qss/style.css"), &dialog);
    QVERIFY(dialog.styleSheet().contains(QStringLiteral("qproperty-windowIcon: url(:/updater/images/windowIcon.ico);")));
    QCOMPARE(dialog.windowIcon().availableSizes(), QList<QSize>{QSize(64, 64)});
    CMessageBox child(QMessageBox::Warning, QStringLiteral("t"), QStringLiteral("x"), QMessageBox::Ok, &dialog,
                      Qt::Dialog);
    dialog.show();
    child.show();
    QVERIFY(QTest::qWaitForWindowExposed(&child));
    QCOMPARE(child.windowIcon().availableSizes(), QList<QSize>{QSize(64, 64)});

    // The application and the host's window are left as they were.
    QCOMPARE(qApp->styleSheet(), hostSheet);
    QCOMPARE(QGuiApplication::windowIcon().cacheKey(), hostIcon.cacheKey());
    QCOMPARE(hostWindow.windowIcon().cacheKey(), hostIcon.cacheKey());
    qApp->setStyleSheet(QString());
}

void TestUiStyle::mouseSimulatorWithoutDisplay()
{
    MouseSimulator simulator;
    simulator.moveTo(10.9, 20.9);
    QCOMPARE(simulator.cursorPosition(), QPoint(10, 20));

    // Offscreen: no X display to send to, so each of the two sends warns.
    QTest::ignoreMessage(QtWarningMsg, "Problem with sending mouse event...");
    QTest::ignoreMessage(QtWarningMsg, "Problem with sending mouse event...");
    simulator.clickAtAndRestore(100, 50);
    QCOMPARE(simulator.cursorPosition(), QPoint(10, 20));
}

QTEST_MAIN(TestUiStyle)
#include "tst_ui_style.moc"
