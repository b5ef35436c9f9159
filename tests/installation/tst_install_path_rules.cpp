// The rules of paths inside an installation folder, on their own: names and
// where the folder's links lead.

#include <QtTest>

#include <QTemporaryDir>

#include "installation/InstallPathRules.h"
#include "support/FileTools.h"

class TestInstallPathRules : public QObject
{
    Q_OBJECT

private slots:
    void split_data();
    void split();
    void reach_data();
    void reach();
};

void TestInstallPathRules::split_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("components");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("plain") << "bin/app" << QStringList{"bin", "app"} << QString();
    QTest::newRow("dots and slashes dropped") << "./bin//app/" << QStringList{"bin", "app"} << QString();
    QTest::newRow("UPDATES further down") << "data/UPDATES/x" << QStringList{"data", "UPDATES", "x"} << QString();
    QTest::newRow("another spelling (Linux compares exactly)") << "updates/x" << QStringList{"updates", "x"}
                                                                << QString();
    QTest::newRow("absolute") << "/etc/passwd" << QStringList() << "absolute path";
    QTest::newRow("drive") << "c:evil" << QStringList() << "absolute path";
    QTest::newRow("climbs") << "a/../b" << QStringList() << "\"..\" component";
    QTest::newRow("backslash") << "dir\\b" << QStringList() << "a backslash";
    QTest::newRow("the folder itself") << "./" << QStringList() << "names the unpack folder itself";
    QTest::newRow("UPDATES") << "UPDATES" << QStringList() << "the module's own folder UPDATES";
    QTest::newRow("in UPDATES") << "./UPDATES/1700000000001.journal" << QStringList()
                                << "the module's own folder UPDATES";
}

void TestInstallPathRules::split()
{
    QFETCH(QString, name);
    QFETCH(QStringList, components);
    QFETCH(QString, refusal);
    InstallPathRules rules;
    QStringList parts;
    QCOMPARE(rules.split(name, &parts), refusal.isEmpty());
    QCOMPARE(parts, components);
    QVERIFY2(refusal.isEmpty() ? rules.errorString().isEmpty() : rules.errorString().contains(refusal),
             qPrintable(rules.errorString()));
}

// An installation folder with links of its own: "inside" to a folder of it,
// "out" out of it, "dangling" to nothing, "u" to UPDATES, and "sub/u" to
// UPDATES through "..".
void TestInstallPathRules::reach_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("isFolder");
    QTest::addColumn<int>("reach");
    const int inside = int(InstallPathRules::Reach::Inside);
    const int out = int(InstallPathRules::Reach::LeadsOut);
    const int updates = int(InstallPathRules::Reach::IntoUpdates);
    QTest::newRow("a folder of its own") << "sub/file" << false << inside;
    QTest::newRow("a folder not there yet") << "new/deep/file" << false << inside;
    QTest::newRow("a link inside") << "inside/file" << false << inside;
    QTest::newRow("a link out") << "out/file" << false << out;
    QTest::newRow("a link to nothing") << "dangling/file" << false << out;
    QTest::newRow("the link out itself, as a file") << "out" << false << inside;
    QTest::newRow("the link out itself, as a folder") << "out" << true << out;
    QTest::newRow("a link to UPDATES") << "u/1700000000001.journal" << false << updates;
    QTest::newRow("a deeper link to UPDATES") << "sub/u/install.lock" << false << updates;
}

void TestInstallPathRules::reach()
{
    QFETCH(QString, path);
    QFETCH(bool, isFolder);
    QFETCH(int, reach);
    QTemporaryDir root;
    const QString dir = root.filePath(QStringLiteral("install"));
    QVERIFY(QDir().mkpath(dir + QStringLiteral("/sub")) && QDir().mkpath(dir + QStringLiteral("/UPDATES")));
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("outside"))));
    QVERIFY(QFile::link(QStringLiteral("sub"), dir + QStringLiteral("/inside")));
    QVERIFY(QFile::link(root.filePath(QStringLiteral("outside")), dir + QStringLiteral("/out")));
    QVERIFY(QFile::link(QStringLiteral("missing"), dir + QStringLiteral("/dangling")));
    QVERIFY(QFile::link(QStringLiteral("UPDATES"), dir + QStringLiteral("/u")));
    QVERIFY(QFile::link(QStringLiteral("../UPDATES"), dir + QStringLiteral("/sub/u")));

    InstallPathRules rules{QDir(dir)};
    QStringList components;
    QVERIFY(rules.split(path, &components));
    if (isFolder)
        components.append(QStringLiteral("."));
    QCOMPARE(int(rules.reach(components)), reach);
    QCOMPARE(rules.isSafe(path, isFolder), reach == int(InstallPathRules::Reach::Inside));
}

QTEST_GUILESS_MAIN(TestInstallPathRules)
#include "tst_install_path_rules.moc"
