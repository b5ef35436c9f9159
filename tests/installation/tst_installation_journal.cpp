// The installation journal on its own: written and read back, and read as
// the untrusted input it is: torn, damaged, planted.

#include <QtTest>

#include <QTemporaryDir>

#include <unistd.h>

#include "InstallationTestTools.h"
#include "installation/FolderHandle.h"
#include "installation/InstallationJournal.h"
#include "support/FileTools.h"
#include "support/UnprivilegedProcess.h"

using FileTools::readFile;
using FileTools::writeFile;
using InstallationTestTools::journalJson;

class TestInstallationJournal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTrip();
    void readsOnlyWhatItCanTrust_data();
    void readsOnlyWhatItCanTrust();

private:
    QString installPath() const { return m_root->filePath(QStringLiteral("install")); }
    QString updatesPath() const { return installPath() + QStringLiteral("/UPDATES"); }

    QScopedPointer<QTemporaryDir> m_root;
};

void TestInstallationJournal::init()
{
    m_root.reset(new QTemporaryDir);
    QVERIFY(QDir().mkpath(updatesPath()));
    QVERIFY(QDir().mkpath(m_root->filePath(QStringLiteral("outside"))));
    QVERIFY(QFile::link(m_root->filePath(QStringLiteral("outside")), installPath() + QStringLiteral("/out")));
}

void TestInstallationJournal::roundTrip()
{
    const QVector<InstallationJournal::Entry> entries = {
        {QStringLiteral("bin/app"), true}, {QStringLiteral("lib/zażółć.so"), false}, {QStringLiteral("a b"), true}};
    const QStringList folders = {QStringLiteral("lib/deep"), QStringLiteral("lib")};
    FolderHandle updates = FolderHandle::open(updatesPath());
    InstallationJournal written(QStringLiteral("1796700000000"), entries, folders);
    QVERIFY2(written.write(updates, QStringLiteral("1796700000000.journal"), QStringLiteral("1796700000000.journal.new")),
             qPrintable(written.errorString()));
    // Whole under its name, nothing left under the partial one, the
    // owner's alone.
    QVERIFY(!QFile::exists(updatesPath() + QStringLiteral("/1796700000000.journal.new")));
    QCOMPARE(QFile::permissions(updatesPath() + QStringLiteral("/1796700000000.journal")),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    InstallationJournal read;
    QCOMPARE(read.read(updates, QStringLiteral("1796700000000.journal"), QDir(installPath())), InstallationJournal::Read);
    QCOMPARE(read.entries().size(), entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(read.entries().at(i).path, entries.at(i).path);
        QCOMPARE(read.entries().at(i).existed, entries.at(i).existed);
    }
    QCOMPARE(read.createdDirectories(), folders);
}

void TestInstallationJournal::readsOnlyWhatItCanTrust_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("plant");
    QTest::addColumn<int>("outcome");
    const QByteArray good = journalJson(QStringLiteral("a"), true);
    auto with = [](const QString& path, const QString& folder = QString()) { return journalJson(path, false, folder); };
    const int read = InstallationJournal::Read;
    const int unreadable = InstallationJournal::Unreadable;
    const int untrusted = InstallationJournal::Untrusted;
    QTest::newRow("whole") << good << "file" << read;
    QTest::newRow("torn") << good.left(good.size() / 2) << "file" << unreadable;
    QTest::newRow("empty") << QByteArray() << "file" << unreadable;
    QTest::newRow("another format") << QByteArray("{\"format\":2,\"files\":[]}") << "file" << unreadable;
    QTest::newRow("not JSON") << QByteArray("\x01\xfe garbage") << "file" << unreadable;
    QTest::newRow("absolute path") << with("/etc/passwd") << "file" << untrusted;
    QTest::newRow("parent folder") << with("../outside/x") << "file" << untrusted;
    QTest::newRow("through a link out") << with("out/x") << "file" << untrusted;
    QTest::newRow("a folder through a link out") << with("a", "out") << "file" << untrusted;
    QTest::newRow("into UPDATES") << with("UPDATES/install.lock") << "file" << untrusted;
    QTest::newRow("a link in its place") << good << "link" << unreadable;
    QTest::newRow("another user's") << good << "foreign" << untrusted;
}

void TestInstallationJournal::readsOnlyWhatItCanTrust()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, plant);
    QFETCH(int, outcome);
    const QString journal = updatesPath() + QStringLiteral("/1796700000000.journal");
    if (plant == QLatin1String("link")) {
        QVERIFY(writeFile(m_root->filePath(QStringLiteral("outside/planted")), content));
        QVERIFY(QFile::link(m_root->filePath(QStringLiteral("outside/planted")), journal));
    } else {
        QVERIFY(writeFile(journal, content));
        if (plant == QLatin1String("foreign"))
            QVERIFY(UnprivilegedProcess::giveToNobody(journal));
    }
    FolderHandle updates = FolderHandle::open(updatesPath());
    InstallationJournal read;
    QCOMPARE(int(read.read(updates, QStringLiteral("1796700000000.journal"), QDir(installPath()))), outcome);
    QCOMPARE(read.entries().isEmpty(), outcome != InstallationJournal::Read);
    QCOMPARE(read.errorString().isEmpty(), outcome == InstallationJournal::Read);
}

QTEST_GUILESS_MAIN(TestInstallationJournal)
#include "tst_installation_journal.moc"
