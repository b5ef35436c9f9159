// The loggers: where the file goes, what a line looks like, what is written
// and how the file rolls over.

#include <QtTest>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/PatternLayout.hh>

#include "logging/LineLayout.h"
#include "logging/Log.h"
#include "support/LogFile.h"

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fileIsInTheSettingsFolder();
    void lineLayout();
    void lineLayoutIsLog4cppsPattern_data();
    void lineLayoutIsLog4cppsPattern();
    void infoIsWrittenDebugIsNot_data();
    void infoIsWrittenDebugIsNot();
    void moduleToolsHasNoFile();
    void rollsOverKeepingTenBackups();
    void logFolderForBothNameForms_data();
    void logFolderForBothNameForms();

private:
    QString settingsFolder(const QString& organization, const QString& application) const;
};

void TestLogging::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_logging"));
    // Start from an empty folder, before the logger opens its file.
    QDir(settingsFolder(QStringLiteral("UpdaterTests"), QStringLiteral("tst_logging")) + QStringLiteral("/tst_logging"))
        .removeRecursively();
}

QString TestLogging::settingsFolder(const QString& organization, const QString& application) const
{
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, organization, application);
    return QFileInfo(settings.fileName()).absolutePath();
}

void TestLogging::fileIsInTheSettingsFolder()
{
    const QString expectedFolder = settingsFolder(QStringLiteral("UpdaterTests"), QStringLiteral("tst_logging")) +
                                   QStringLiteral("/tst_logging/logs");
    QCOMPARE(UpdaterLogger::instance().logDirectory(), expectedFolder);
    QCOMPARE(UpdaterLogger::instance().logFilePath(), expectedFolder + QStringLiteral("/updater.log"));
    // Below the test's own home folder.
    QVERIFY(expectedFolder.startsWith(QDir::homePath() + QStringLiteral("/.config/UpdaterTests/")));
    QVERIFY(QFileInfo(expectedFolder).isDir());
}

void TestLogging::lineLayout()
{
    LogFile log;
    LOG_UPDATER(WARN) << "TestLogging::lineLayout :: value=" << 42 << QStringLiteral(" text");
    const QStringList lines = log.newLines();
    QCOMPARE(lines.size(), 1);
    const QRegularExpression layout(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})\\.(\\d{3}) (\\d+) \\[(\\d+)\\] WARN  - "
        "TestLogging::lineLayout :: value=42 text$"));
    const QRegularExpressionMatch match = layout.match(lines.first());
    QVERIFY2(match.hasMatch(), qPrintable(lines.first()));
    // The date is today's local date.
    const QDate today = QDate::currentDate();
    const QDate logged(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    QVERIFY(qAbs(logged.daysTo(today)) <= 1);
}

void TestLogging::lineLayoutIsLog4cppsPattern_data()
{
    QTest::addColumn<int>("priority");
    QTest::addColumn<uint>("seconds");
    QTest::addColumn<uint>("microseconds");
    QTest::addColumn<QByteArray>("ndc");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("INFO, start of a second") << int(log4cpp::Priority::INFO) << 1800000000u << 0u << QByteArray()
                                             << QByteArray("A :: b=c");
    QTest::newRow("NOTICE, 7 ms") << int(log4cpp::Priority::NOTICE) << 1800000000u << 7999u << QByteArray()
                                  << QByteArray("A :: \xb3\xf3" "d\xbc");
    QTest::newRow("WARN, 999 ms, a context") << int(log4cpp::Priority::WARN) << 1781234567u << 999999u
                                             << QByteArray("ctx") << QByteArray("x");
    QTest::newRow("ERROR, empty message") << int(log4cpp::Priority::ERROR) << 1700000001u << 500000u << QByteArray()
                                          << QByteArray();
    QTest::newRow("DEBUG, leap day") << int(log4cpp::Priority::DEBUG) << 1709208000u << 123456u << QByteArray()
                                     << QByteArray("y");
    QTest::newRow("a value between names") << 350 << 0u << 1000u << QByteArray() << QByteArray("z");
}

// The module's own layout writes what log4cpp's pattern writes, but for the
// processor time, which the two read at different moments.
void TestLogging::lineLayoutIsLog4cppsPattern()
{
    QFETCH(int, priority);
    QFETCH(uint, seconds);
    QFETCH(uint, microseconds);
    QFETCH(QByteArray, ndc);
    QFETCH(QByteArray, message);

    log4cpp::LoggingEvent event("updater", message.toStdString(), ndc.toStdString(), priority);
    event.timeStamp = log4cpp::TimeStamp(seconds, microseconds);
    log4cpp::PatternLayout theirs;
    theirs.setConversionPattern(ZTXLogger::PatternLayout);
    LineLayout ours;
    const QRegularExpression processorTime(QStringLiteral("^(\\S+ \\S+) (\\d+) "));
    for (int i = 0; i < 2; ++i) { // the second time from the readings kept for the thread
        QString expected = QString::fromLatin1(theirs.format(event).c_str());
        QString line = QString::fromLatin1(ours.format(event).c_str());
        QVERIFY2(processorTime.match(line).hasMatch(), qPrintable(line));
        line.replace(processorTime, QStringLiteral("\\1 - "));
        expected.replace(processorTime, QStringLiteral("\\1 - "));
        QCOMPARE(line, expected);
    }
}

void TestLogging::infoIsWrittenDebugIsNot_data()
{
    QTest::addColumn<int>("priority");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("written");
    QTest::newRow("ERROR") << int(log4cpp::Priority::ERROR) << "ERROR" << true;
    QTest::newRow("WARN") << int(log4cpp::Priority::WARN) << "WARN" << true;
    QTest::newRow("NOTICE") << int(log4cpp::Priority::NOTICE) << "NOTICE" << true;
    QTest::newRow("INFO") << int(log4cpp::Priority::INFO) << "INFO" << true;
    QTest::newRow("DEBUG") << int(log4cpp::Priority::DEBUG) << "DEBUG" << false;
}

void TestLogging::infoIsWrittenDebugIsNot()
{
    QFETCH(int, priority);
    QFETCH(QString, name);
    QFETCH(bool, written);

    LogFile log;
    const QString marker = QStringLiteral("priority probe ") + name;
    UpdaterLogger::instance().category.getStream(priority) << "TestLogging :: " << marker;
    QCOMPARE(log.hasNewLine(QStringLiteral("] ") + name + QStringLiteral("  - TestLogging :: ") + marker), written);

    // A category set to let everything through still keeps DEBUG out of the file.
    UpdaterLogger::instance().category.setPriority(log4cpp::Priority::DEBUG);
    UpdaterLogger::instance().category.getStream(priority) << "TestLogging :: open " << marker;
    UpdaterLogger::instance().category.setPriority(log4cpp::Priority::NOTSET);
    QCOMPARE(log.hasNewLine(QStringLiteral("open ") + marker), written);
}

void TestLogging::moduleToolsHasNoFile()
{
    LogFile log;
    LOG_MODULETOOLS(ERROR) << "ModuleReader::readModule :: not in the updater file";
    QVERIFY(log.newText().isEmpty());
    QVERIFY(ModuleToolsLogger::instance().category.getAllAppenders().empty());
    QCOMPARE(QDir(ModuleToolsLogger::instance().logDirectory()).entryList({"*.log"}, QDir::Files).size(), 1);
}

void TestLogging::rollsOverKeepingTenBackups()
{
    const QDir folder(UpdaterLogger::instance().logDirectory());
    const QString message = QStringLiteral("TestLogging::rollsOver :: ") + QString(1000, QLatin1Char('x'));
    // Enough for more than 12 roll-overs: the oldest backups must go.
    const qint64 total = 13LL * 5242880;
    const qint64 lineSize = message.size() + 60;
    for (qint64 written = 0; written < total; written += lineSize)
        LOG_UPDATER(INFO) << message;

    QStringList expected;
    for (int i = 1; i <= 10; ++i)
        expected << QStringLiteral("updater.log.%1").arg(i, 2, 10, QLatin1Char('0'));
    QStringList backups = folder.entryList({QStringLiteral("updater.log.*")}, QDir::Files, QDir::Name);
    QCOMPARE(backups, expected);

    const qint64 limit = 5242880;
    for (const QString& backup : backups) {
        const qint64 size = QFileInfo(folder.filePath(backup)).size();
        // Rolled at the first write that reached the limit.
        QVERIFY2(size >= limit && size < limit + lineSize, qPrintable(backup + QString::number(size)));
    }
    QVERIFY(QFileInfo(folder.filePath(QStringLiteral("updater.log"))).size() < limit);
}

void TestLogging::logFolderForBothNameForms_data()
{
    QTest::addColumn<QString>("application");
    QTest::addColumn<QString>("expected");

    const QString home = QDir::homePath();
    // Rows run in order: once a "KV_" name was seen, the flag stays set.
    QTest::newRow("plain name") << "MyApp"
                                << settingsFolder("Org", "MyApp") + "/MyApp/logs";
    QTest::newRow("lower-case kv_ prefix") << "kv_Viewer"
                                           << settingsFolder("Org", "kv_Viewer") + "/kv_Viewer/logs";
    QTest::newRow("KV_ prefix") << "KV_Viewer" << home + "/AppData/LocalLow/Org/KV_Viewer/logs";
    QTest::newRow("plain name after KV_") << "Other" << home + "/AppData/LocalLow/Org/Other/logs";
}

void TestLogging::logFolderForBothNameForms()
{
    QFETCH(QString, application);
    QFETCH(QString, expected);

    QCoreApplication::setOrganizationName(QStringLiteral("Org"));
    QCoreApplication::setApplicationName(application);
    const ZTXLogger logger(std::string("probe") + application.toStdString(), false);
    QCOMPARE(logger.logDirectory(), QDir::toNativeSeparators(expected));
    QVERIFY(QFileInfo(expected).isDir());
}

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
