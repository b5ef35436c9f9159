#include "OwnXvfb.h"

#include <QApplication>

#include <cstdio>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t g_xvfb = 0;

bool socketExists(int display)
{
    struct stat info;
    return ::stat(QByteArray("/tmp/.X11-unix/X" + QByteArray::number(display)).constData(), &info) == 0;
}

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

} // namespace

QByteArray OwnXvfb::display()
{
    const QByteArray given = qgetenv("UPDATER_TEST_DISPLAY");
    return given.isEmpty() ? startOwnXvfb() : given;
}

void OwnXvfb::stop()
{
    if (g_xvfb > 0) {
        ::kill(g_xvfb, SIGTERM);
        ::waitpid(g_xvfb, nullptr, 0);
        g_xvfb = 0;
    }
}

int OwnXvfb::run(int argc, char** argv, const std::function<int(int, char**)>& body)
{
    const QByteArray server = display();
    if (server.isEmpty()) {
        std::fprintf(stderr, "no X server: set UPDATER_TEST_DISPLAY or install Xvfb\n");
        return 1;
    }
    qputenv("DISPLAY", server);
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 0;
    {
        QApplication app(argc, argv);
        status = body(argc, argv);
    }
    stop();
    return status;
}
