// The focus click on a real X server: a shown module window receives a
// real press and release near its bottom-left corner, and the cursor goes
// back where it was.
//
// The X server is the one in UPDATER_TEST_DISPLAY (scripts/test.sh starts
// it); without it the test starts an Xvfb of its own and stops it at the end.

#include <QtTest>

#include <QCursor>
#include <QMouseEvent>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "module/OperationCancelledException.h"
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

pid_t g_xvfb = 0;

bool socketExists(int display)
{
    struct stat info;
    return ::stat(QByteArray("/tmp/.X11-unix/X" + QByteArray::number(display)).constData(), &info) == 0;
}

// Starts Xvfb on the first free display; it dies with this process.
QByteArray startOwnXvfb()
{
    for (int display = 120; display < 160; ++display) {
        const QByteArray lock = "/tmp/.X" + QByteArray::number(display) + "-lock";
        struct stat info;
        if (socketExists(display) || ::stat(lock.constData(), &info) == 0)
            continue;
        const QByteArray name = ":" + QByteArray::number(display);
        const pid_t child = ::fork();
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::execlp("Xvfb", "Xvfb", name.constData(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (child < 0)
            return QByteArray();
        g_xvfb = child;
        for (int i = 0; i < 100 && !socketExists(display); ++i)
            ::usleep(50000);
        return socketExists(display) ? name : QByteArray();
    }
    return QByteArray();
}

void stopOwnXvfb()
{
    if (g_xvfb > 0) {
        ::kill(g_xvfb, SIGTERM);
        ::waitpid(g_xvfb, nullptr, 0);
        g_xvfb = 0;
    }
}

} // namespace

class TestUiX11Click : public QObject
{
    Q_OBJECT

private slots:
    void execClicksIntoTheDialog();
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

int main(int argc, char** argv)
{
    QByteArray display = qgetenv("UPDATER_TEST_DISPLAY");
    if (display.isEmpty())
        display = startOwnXvfb();
    if (display.isEmpty()) {
        std::fprintf(stderr, "no X server: set UPDATER_TEST_DISPLAY or install Xvfb\n");
        return 1;
    }
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 0;
    {
        QApplication app(argc, argv);
        TestUiX11Click test;
        status = QTest::qExec(&test, argc, argv);
    }
    stopOwnXvfb();
    return status;
}

#include "tst_ui_x11_click.moc"
