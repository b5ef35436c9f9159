// updater-bench-download: downloads one URL with the module's download
// engine (in process, through Update's own first half) and prints size,
// time, throughput and the process's peak resident memory.
//
// Usage: updater-bench-download URL [PROXY-HEX]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <sys/resource.h>

#include "controller/CDefaultLibraryTestAccess.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("updater-bench"));
    QCoreApplication::setApplicationName(QStringLiteral("updater-bench-download"));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: updater-bench-download URL [PROXY-HEX]\n");
        return 2;
    }

    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    QMap<QByteArray, QByteArray> request{{"url", arguments.at(1).toUtf8()}};
    if (arguments.size() > 2)
        request.insert("proxySettings", arguments.at(2).toLatin1());
    QElapsedTimer elapsed;
    elapsed.start();
    const bool downloaded = access.downloadIntoTempFile(request);
    const qint64 nanoseconds = elapsed.nsecsElapsed();
    if (!downloaded) {
        std::fprintf(stderr, "updater-bench-download: %s\n", access.result().serialize().constData());
        return 1;
    }
    const bool passed = access.handleDownloadErrors();
    const qint64 size = access.packageFile().size();

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double seconds = nanoseconds / 1e9;
    // bytes seconds MiB/s peak-KiB result
    std::printf("%lld %.6f %.2f %ld %s\n", static_cast<long long>(size), seconds,
                seconds > 0 ? size / seconds / (1024.0 * 1024.0) : 0.0, usage.ru_maxrss,
                passed ? "ok" : access.result().serialize().constData());
    return passed ? 0 : 1;
}
