// The module's windows on a real X server: a shown window receives a real
// press and release near its bottom-left corner and the cursor goes back
// where it was; updater-host's connection-warning takes real key presses.
//
// The X server is the one in UPDATER_TEST_DISPLAY (scripts/test.sh starts
// it); without it the test starts an Xvfb of its own and stops it at the end.

#include <QtTest>

#include <QCursor>
#include <QMouseEvent>
#include <QProcess>

// Before X11's headers, which define Success as a macro: the result table
// names updater::Success.
#include "module/ResultTexts.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <updater/OperationCancelledException.h>

#include "support/OwnXvfb.h"
#include "support/TestPaths.h"
#include "ui/CWindow.h"

namespace {

// A module window that notes the mouse buttons it receives and closes as
// accepted on the first complete click.
class ClickRecorder : public CWindow
{
public:
    ClickRecorder()
        : CWindow(nullptr)
    {
        setFixedSize(240, 160);
    }

    QList<QPair<QEvent::Type, QPoint>> events;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        events.append(qMakePair(event->type(), event->pos()));
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        events.append(qMakePair(event->type(), event->pos()));
        accept();
    }
};

// Whether a mapped top-level window with this title exists on the display.
bool windowShown(Display* display, const QByteArray& title)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    bool found = false;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return false;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        char* name = nullptr;
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable
            && XFetchName(display, children[i], &name) && name)
            found = title == name;
        if (name)
            XFree(name);
    }
    if (children)
        XFree(children);
    return found;
}

// Key presses through the X Test extension, by key symbol name ("a", "Tab").
void pressKeys(Display* display, const QStringList& keys)
{
    for (const QString& key : keys) {
        const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(key.toLatin1().constData()));
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XSync(display, False);
        QTest::qWait(20);
    }
}

} // namespace

class TestUiX11Click : public QObject
{
    Q_OBJECT

private slots:
    void execClicksIntoTheDialog();
    void hostToolTakesKeys_data();
    void hostToolTakesKeys();
};

void TestUiX11Click::execClicksIntoTheDialog()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    ClickRecorder window;
    window.move(300, 200);
    const QPoint parked(20, 700);
    QCursor::setPos(parked);
    // Without the click the dialog would be rejected after this time.
    QTimer::singleShot(10000, &window, &QDialog::reject);
    int result = 0;
    try {
        result = window.exec();
    } catch (const OperationCancelledException&) {
        QFAIL("no click reached the dialog");
    }
    QCOMPARE(result, 1);
    const QPoint corner(2, window.height() - 2);
    QCOMPARE(window.events.size(), 2);
    QCOMPARE(window.events.at(0), qMakePair(QEvent::MouseButtonPress, corner));
    QCOMPARE(window.events.at(1), qMakePair(QEvent::MouseButtonRelease, corner));
    QCOMPARE(QCursor::pos(), parked);
}

void TestUiX11Click::hostToolTakesKeys_data()
{
    QTest::addColumn<QStringList>("warningKeys");
    QTest::addColumn<QStringList>("proxyKeys"); // empty: the proxy dialog is not expected
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("exitCode");
    const QByteArray proxySet = ResultTexts::proxySettingsSet(QStringLiteral("70726f78797c383038307c7c")).serialize();
    QTest::newRow("proxy entered") << QStringList{"Return"}
                                   << QStringList{"p", "r", "o", "x", "y", "Tab", "8", "0", "8", "0", "Return"}
                                   << proxySet + '\n' << 46;
    QTest::newRow("Esc") << QStringList{"Escape"} << QStringList{}
                         << ResultTexts::operationAborted().serialize() + '\n' << 41;
}

void TestUiX11Click::hostToolTakesKeys()
{
    QFETCH(QStringList, warningKeys);
    QFETCH(QStringList, proxyKeys);
    QFETCH(QByteArray, output);
    QFETCH(int, exitCode);

    Display* display = XOpenDisplay(nullptr);
    QVERIFY(display);
    QProcess host;
    host.setProgram(TestPaths::binaryDir() + QStringLiteral("/bin/updater-host"));
    host.setArguments({"connection-warning", "--language", "1", "--error", "99"});
    host.start();
    QVERIFY(host.waitForStarted());
    // The dialog takes the keyboard focus by its own click once shown.
    QTRY_VERIFY_WITH_TIMEOUT(windowShown(display, "Connection error"), 10000);
    QTest::qWait(300);
    pressKeys(display, warningKeys);
    if (!proxyKeys.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(display, "Proxy settings"), 10000);
        QTest::qWait(300);
        pressKeys(display, proxyKeys);
    }
    // It may have ended already while the keys were sent.
    const bool finished = host.state() == QProcess::NotRunning || host.waitForFinished(10000);
    if (!finished)
        host.kill();
    XCloseDisplay(display);
    if (!finished)
        qWarning("%s", host.readAllStandardError().constData());
    QVERIFY(finished);
    QCOMPARE(host.readAllStandardOutput(), output);
    QCOMPARE(host.exitCode(), exitCode);
}

int main(int argc, char** argv)
{
    return OwnXvfb::run(argc, argv, [](int argc, char** argv) {
        TestUiX11Click test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "tst_ui_x11_click.moc"
