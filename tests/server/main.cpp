// updater-test-https-server: serves the files of a folder over HTTPS on
// 127.0.0.1, for end-to-end runs of the module in a host process, for the
// benchmarks and for the demo.
//
// It prints the port it listens on as the first line of stdout and stays in
// the foreground until it is terminated.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "support/HttpsTestServer.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serves the files of a folder over HTTPS on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption rootOption(QStringLiteral("root"), QStringLiteral("Folder to serve."),
                                        QStringLiteral("folder"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port (0: a free one, the default)."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption pidOption(QStringLiteral("pid-file"), QStringLiteral("Write the process id here."),
                                       QStringLiteral("file"));
    const QCommandLineOption certOption(QStringLiteral("write-certificate"),
                                        QStringLiteral("Write the generated server certificate (PEM) here."),
                                        QStringLiteral("file"));
    parser.addOptions({rootOption, portOption, pidOption, certOption});
    parser.process(app);

    if (!parser.isSet(rootOption) || !QFileInfo(parser.value(rootOption)).isDir()) {
        std::fprintf(stderr, "updater-test-https-server: --root must name a folder\n");
        return 2;
    }
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "updater-test-https-server: bad --port\n");
        return 2;
    }

    HttpsTestServer server;
    server.setRootFolder(parser.value(rootOption));
    if (!server.start(static_cast<quint16>(port))) {
        std::fprintf(stderr, "updater-test-https-server: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    if (parser.isSet(certOption)) {
        QFile file(parser.value(certOption));
        if (!file.open(QIODevice::WriteOnly) || file.write(server.certificate().certificatePem()) < 0) {
            std::fprintf(stderr, "updater-test-https-server: cannot write the certificate\n");
            return 1;
        }
    }
    if (parser.isSet(pidOption)) {
        QFile file(parser.value(pidOption));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(QCoreApplication::applicationPid()) + "\n") < 0) {
            std::fprintf(stderr, "updater-test-https-server: cannot write the pid file\n");
            return 1;
        }
    }

    // SIGTERM and SIGINT end the event loop, so the server stops cleanly.
    if (::pipe(g_signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    std::fprintf(stdout, "%u\n", server.port());
    std::fflush(stdout);
    const int status = app.exec();
    server.stop();
    return status;
}
