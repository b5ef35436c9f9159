// The library as a host sees it: loaded with QLibrary, exports resolved by
// name, resources registered by Init.

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLibrary>
#include <QProcess>
#include <QRegularExpression>
#include <QTranslator>

#include <updater/updater.h>
#include <updater/version.h>

#include "support/LogFile.h"
#include "support/TestPaths.h"

namespace {

const QStringList kResourcePaths = {
    QStringLiteral(":/updater/qss/style.css"),
    QStringLiteral(":/updater/images/keyboard.ico"),
    QStringLiteral(":/updater/images/windowIcon.ico"),
    QStringLiteral(":/updater/translations/qt5_4_pl.qm"),
    QStringLiteral(":/updater/translations/Language_pl.qm"),
    QStringLiteral(":/updater/translations/Language_en.qm"),
    QStringLiteral(":/updater/translations/Language_hr.qm"),
};

QString readLog()
{
    QFile file(LogFile::pathFor(QStringLiteral("tst_exports")));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll());
}

} // namespace

class TestExports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void resourcesAppearOnlyAfterInit();
    void styleSheetBytesAreExact();
    void iconsHaveTheirSizes_data();
    void iconsHaveTheirSizes();
    void translationsTranslate_data();
    void translationsTranslate();
    void moduleVersion();
    void classification_data();
    void classification();
    void deInitWritesItsLine();
    void onlyExportsAreVisible();

private:
    QLibrary m_library;
    updater::InitFunction m_init = nullptr;
    updater::WorkFunction m_version = nullptr;
};

void TestExports::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_exports"));
    // The module's logger opens its file on first use, after this.
    QFile::remove(LogFile::pathFor(QStringLiteral("tst_exports")));
    m_library.setFileName(TestPaths::libraryPath());
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    m_init = reinterpret_cast<updater::InitFunction>(m_library.resolve(updater::InitName));
    m_version = reinterpret_cast<updater::WorkFunction>(m_library.resolve(updater::GetModuleVersionName));
    QVERIFY(m_init);
    QVERIFY(m_version);
}

void TestExports::resourcesAppearOnlyAfterInit()
{
    for (const QString& path : kResourcePaths)
        QVERIFY2(!QFile::exists(path), qPrintable(path + QStringLiteral(" visible before Init")));

    QCOMPARE(m_init(), 1);
    for (const QString& path : kResourcePaths)
        QVERIFY2(QFile::exists(path), qPrintable(path + QStringLiteral(" missing after Init")));

    // A second Init changes nothing.
    QCOMPARE(m_init(), 1);
    QVERIFY(QFile::exists(kResourcePaths.first()));
    QCOMPARE(QDir(QStringLiteral(":/updater/translations")).entryList().size(), 4);
}

void TestExports::styleSheetBytesAreExact()
{
    QFile file(QStringLiteral(":/updater/qss/style.css"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("QWidget {\r\n"
                                        "    qproperty-windowIcon: url(:/updater/images/windowIcon.ico);\r\n"
                                        "}\r\n"));
}

void TestExports::iconsHaveTheirSizes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("fileSize");
    QTest::newRow("keyboard") << ":/updater/images/keyboard.ico" << 32 << 4 << 766;
    QTest::newRow("window icon") << ":/updater/images/windowIcon.ico" << 64 << 32 << 16958;
}

void TestExports::iconsHaveTheirSizes()
{
    QFETCH(QString, path);
    QFETCH(int, size);
    QFETCH(int, depth);
    QFETCH(int, fileSize);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QCOMPARE(data.size(), fileSize);
    // ICONDIR with one image; the entry's bit count.
    QCOMPARE(quint8(data[2]), quint8(1));
    QCOMPARE(quint8(data[4]), quint8(1));
    QCOMPARE(int(quint8(data[6 + 6])), depth);

    const QImage image(path);
    QVERIFY2(!image.isNull(), "Qt cannot read the icon");
    QCOMPARE(image.size(), QSize(size, size));
    // Something is drawn, and something is left transparent or differs.
    QVERIFY(image.pixel(size / 2, size / 2) != image.pixel(0, 0));
}

void TestExports::translationsTranslate_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");

    QTest::newRow("pl") << "Language_pl.qm" << "CConnectionWarning" << "Connection error"
                        << QString::fromUtf8("Błąd połączenia");
    QTest::newRow("pl proxy") << "Language_pl.qm" << "CProxySettings" << "Password not entered"
                              << QString::fromUtf8("Nie podano hasła");
    QTest::newRow("hr") << "Language_hr.qm" << "CProxySettings" << "Username:"
                        << QString::fromUtf8("Korisničko ime:");
    QTest::newRow("hr warning") << "Language_hr.qm" << "CConnectionWarning" << "Proxy settings"
                                << QString::fromUtf8("Proxy postavke");
    QTest::newRow("en translates to itself") << "Language_en.qm" << "CProxySettings" << "Show password"
                                             << "Show password";
    QTest::newRow("Qt's Polish widget texts") << "qt5_4_pl.qm" << "QPlatformTheme" << "Cancel" << "Anuluj";
}

void TestExports::translationsTranslate()
{
    QFETCH(QString, file);
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, expected);

    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/updater/translations/") + file));
    QCOMPARE(translator.translate(context.toLatin1().constData(), source.toUtf8().constData()), expected);
}

void TestExports::moduleVersion()
{
    QCOMPARE(m_version(updater::Request(), updater::Context()), QByteArray("0|" UPDATER_VERSION));
    updater::Request request;
    request.insert("url", "https://example.invalid/x.ztx");
    updater::Context context;
    context.insert("languageId", 1);
    QCOMPARE(m_version(request, context), QByteArray("0|" UPDATER_VERSION));
}

void TestExports::classification_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<bool>("gui");
    QTest::addColumn<bool>("unprivileged");

    QTest::newRow("Update") << "Update" << false << true;
    QTest::newRow("UpdateFromData") << "UpdateFromData" << false << true;
    QTest::newRow("GetModuleVersion") << "GetModuleVersion" << false << false;
    QTest::newRow("ShowConnectionWarning") << "ShowConnectionWarning" << true << false;
    QTest::newRow("Init") << "Init" << true << false;
    QTest::newRow("DeInit") << "DeInit" << true << false;
    QTest::newRow("IsGuiFunction") << "IsGuiFunction" << true << false;
    QTest::newRow("null") << QString() << true << false;
}

void TestExports::classification()
{
    QFETCH(QString, function);
    QFETCH(bool, gui);
    QFETCH(bool, unprivileged);

    const auto isGui = reinterpret_cast<updater::ClassifyFunction>(m_library.resolve(updater::IsGuiFunctionName));
    const auto canUnprivileged =
        reinterpret_cast<updater::ClassifyFunction>(m_library.resolve(updater::CanUnprivilegedRunName));
    const auto terminal = reinterpret_cast<updater::TerminalServicesFunction>(
        m_library.resolve(updater::CanUseOnTerminalServicesName));
    QVERIFY(isGui && canUnprivileged && terminal);

    const void* address = nullptr;
    if (!function.isEmpty()) {
        address = reinterpret_cast<const void*>(m_library.resolve(function.toLatin1().constData()));
        QVERIFY(address);
    }
    QCOMPARE(isGui(address), gui);
    QCOMPARE(canUnprivileged(address), unprivileged);
    QVERIFY(terminal());
}

void TestExports::deInitWritesItsLine()
{
    const auto deInit = reinterpret_cast<updater::DeInitFunction>(m_library.resolve(updater::DeInitName));
    QVERIFY(deInit);
    deInit();
    deInit();
    const QString log = readLog();
    const QRegularExpression line(QStringLiteral(
        "^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} \\d+ \\[\\d+\\] NOTICE  - DeInit :: Library deinitialized\\.$"),
                                  QRegularExpression::MultilineOption);
    QVERIFY2(line.isValid(), qPrintable(line.errorString()));
    int count = 0;
    for (auto it = line.globalMatch(log); it.hasNext(); it.next())
        ++count;
    QVERIFY2(count == 2, qPrintable(QStringLiteral("log:\n") + log));
    // The module keeps working after DeInit.
    QCOMPARE(m_version(updater::Request(), updater::Context()), QByteArray("0|" UPDATER_VERSION));
}

void TestExports::onlyExportsAreVisible()
{
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                                    QStringLiteral("--extern-only"), TestPaths::libraryPath()});
    QVERIFY(nm.waitForFinished(30000));
    QCOMPARE(nm.exitCode(), 0);

    const QStringList functions = {"Init", "DeInit", "Update", "UpdateFromData", "ShowConnectionWarning",
                                   "GetModuleVersion", "IsGuiFunction", "CanUnprivilegedRun",
                                   "CanUseOnTerminalServices", "CancelUpdate"};
    QStringList found;
    QStringList unexpected;
    const QStringList lines = QString::fromLatin1(nm.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QString symbol = line.section(' ', -1);
        if (functions.contains(symbol))
            found << symbol;
        else if (symbol == QLatin1String("__bss_start") || symbol == QLatin1String("_edata") ||
                 symbol == QLatin1String("_end"))
            continue; // the linker's own markers
        else if (!symbol.contains(QLatin1String("13BaseException")) &&
                 !symbol.contains(QLatin1String("27OperationCancelledException")))
            unexpected << symbol;
    }
    found.sort();
    QStringList expected = functions;
    expected.sort();
    QCOMPARE(found, expected);
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QLatin1Char(' '))));
}

QTEST_GUILESS_MAIN(TestExports)
#include "tst_exports.moc"
