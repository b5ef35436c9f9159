// A host's progress dialog on a real X server: a QProgressDialog fed by the
// module's progress reports moves while Update downloads a 10 MB package
// from nginx and while it installs 1,000 files, and a real click on its
// Cancel button at half the download, or at half the unpacking, ends the
// call with 41 "operation aborted", the installation folder as it was. How
// long the call took after the click is printed.
//
// The X server is the one in UPDATER_TEST_DISPLAY (scripts/test.sh starts
// it); without it the test starts an Xvfb of its own.

#include <QtTest>

#include <QLibrary>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>

// Before X11's headers, which define Success as a macro.
#include "module/ResultTexts.h"
#include "support/ProgressReceiver.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <updater/updater.h>

#include "installation/InstallationTestTools.h"
#include "support/NginxProcess.h"
#include "support/OwnXvfb.h"
#include "support/TestPaths.h"
#include "support/TreeSnapshot.h"

class TestUiProgress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void barMovesWhileInstalling();
    void clickOnCancelAtHalf_data();
    void clickOnCancelAtHalf();

private:
    // Update of the package at path into the folder, with the dialog; the
    // watcher sees every report. The values the bar took, by phase.
    QByteArray update(const QString& path, const QString& folder, QProgressDialog& dialog,
                      const std::function<void(const ProgressReceiver::Report&)>& watcher = nullptr);
    static void click(const QProgressDialog& dialog, Display* display);

    QLibrary m_library;
    NginxProcess m_nginx;
    QByteArray m_package;
    QMap<QString, QList<int>> m_values;
};

void TestUiProgress::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_ui_progress"));
    m_library.setFileName(TestPaths::libraryPath());
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    InstallationTestTools::Tree files;
    for (int i = 0; i < 10; ++i)
        files.insert(QStringLiteral("data/file%1.bin").arg(i), incompressibleBytes(1000000, quint32(i + 1)));
    m_package = InstallationTestTools::signedPackage(files);
    // About three seconds for the package, sent as it is, with its length.
    QVERIFY2(m_nginx.start("location /slow/ { limit_rate 3m; gzip off; }\n"), qPrintable(m_nginx.errorString()));
    QVERIFY(FileTools::writeFile(m_nginx.root() + QStringLiteral("/slow/app.ztx"), m_package));
    // 1,000 files of 10 kB, served at full speed.
    InstallationTestTools::Tree many;
    for (int i = 0; i < 1000; ++i)
        many.insert(QStringLiteral("lib%1/file%2.bin").arg(i % 10).arg(i), incompressibleBytes(10000, quint32(i + 1)));
    QVERIFY(FileTools::writeFile(m_nginx.root() + QStringLiteral("/many.ztx"), InstallationTestTools::signedPackage(many)));
}

QByteArray TestUiProgress::update(const QString& path, const QString& folder, QProgressDialog& dialog,
                                  const std::function<void(const ProgressReceiver::Report&)>& watcher)
{
    const auto update = reinterpret_cast<updater::WorkFunction>(m_library.resolve(updater::UpdateName));
    const auto cancel = reinterpret_cast<updater::CancelFunction>(m_library.resolve(updater::CancelUpdateName));
    // The host's side, as the README shows it: the dialog follows the
    // reports, and its Cancel button asks the module to stop. One dialog for
    // all the phases: each one's end must neither reset nor close it.
    ProgressReceiver receiver;
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    connect(&dialog, &QProgressDialog::canceled, &receiver, [cancel]() { cancel(); });
    m_values.clear();
    receiver.onReport = [&](const ProgressReceiver::Report& report) {
        dialog.setLabelText(report.phase);
        dialog.setMaximum(report.total > 0 ? 1000 : 0);
        dialog.setValue(report.total > 0 ? int(report.done * 1000 / report.total) : 0);
        m_values[report.phase].append(dialog.value());
        if (watcher)
            watcher(report);
    };
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    const QByteArray result = update({{"url", m_nginx.url(path).toUtf8()}}, receiver.context());
    QDir::setCurrent(previous);
    return result;
}

// A real press and release on the dialog's button, through the X server.
void TestUiProgress::click(const QProgressDialog& dialog, Display* display)
{
    const QPushButton* button = dialog.findChild<QPushButton*>();
    const QPoint centre = button->mapToGlobal(button->rect().center());
    XTestFakeMotionEvent(display, -1, centre.x(), centre.y(), CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
}

// The bar goes from 0 to its end in the unpacking and in the moving in.
void TestUiProgress::barMovesWhileInstalling()
{
    QTemporaryDir folder;
    QProgressDialog dialog(QStringLiteral("Updating"), QStringLiteral("Cancel"), 0, 1000);
    dialog.setMinimumDuration(0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(update(QStringLiteral("/many.ztx"), folder.path(), dialog), ResultTexts::fileUpdated().serialize());
    for (const QString& phase : {QStringLiteral("unpack"), QStringLiteral("install")}) {
        const QList<int> values = m_values.value(phase);
        QVERIFY2(values.size() >= 2 && values.first() == 0 && values.last() == 1000,
                 qPrintable(phase + QStringLiteral(": %1 values").arg(values.size())));
    }
}

void TestUiProgress::clickOnCancelAtHalf_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("phase");
    QTest::newRow("the download of 10 MB") << "/slow/app.ztx" << "download";
    QTest::newRow("the unpacking of 1,000 files") << "/many.ztx" << "unpack";
}

void TestUiProgress::clickOnCancelAtHalf()
{
    QFETCH(QString, path);
    QFETCH(QString, phase);
    QTemporaryDir folder;
    QVERIFY(FileTools::writeFile(folder.filePath(QStringLiteral("lib0/file0.bin")), "installed"));
    const TreeSnapshot before = TreeSnapshot::take(folder.path(), {QStringLiteral("UPDATES")});
    QProgressDialog dialog(QStringLiteral("Updating"), QStringLiteral("Cancel"), 0, 1000);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(0);
    dialog.move(200, 200);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Display* display = XOpenDisplay(nullptr);
    QVERIFY(display);
    QElapsedTimer sinceClick;
    QList<int> values; // what the bar showed until the click
    const QByteArray result =
        update(path, folder.path(), dialog, [&](const ProgressReceiver::Report& report) {
            if (report.phase == phase && !sinceClick.isValid() && report.total > 0 && report.done >= report.total / 2) {
                click(dialog, display);
                sinceClick.start();
                values = m_values.value(phase);
            }
        });
    qInfo("the call returned %lld ms after the click; the bar showed %d values",
          sinceClick.isValid() ? sinceClick.elapsed() : -1, int(values.size()));
    XCloseDisplay(display);
    QCOMPARE(result, ResultTexts::operationAborted().serialize());
    QVERIFY(dialog.wasCanceled());
    // The bar moved on its way to half.
    QVERIFY2(values.size() >= 2 && values.last() > values.first(), qPrintable(QString::number(values.size())));
    const TreeSnapshot after = TreeSnapshot::take(folder.path(), {QStringLiteral("UPDATES")});
    QVERIFY2(before == after, qPrintable(before.differences(after)));
}

int main(int argc, char** argv)
{
    return OwnXvfb::run(argc, argv, [](int argc, char** argv) {
        TestUiProgress test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "tst_ui_progress.moc"
