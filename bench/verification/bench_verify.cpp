// Times CDefaultLibrary::verifyDownloadedFile on a 10 MiB package beside
// `openssl dgst -sha256 -verify` on the same bytes, and prints the ratio.
//
//   bench_verify [RUNS]      (default 15 runs of each)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <updater/updater.h>

#include "controller/CDefaultLibraryTestAccess.h"
#include "verification/ModuleReader.h"

namespace {

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int fail(const char* text)
{
    std::fprintf(stderr, "bench_verify: %s\n", text);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterBench"));
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir().mkpath(dir.filePath(QStringLiteral("source"))))
        return fail("cannot create a temporary folder");
    // Random bytes do not compress: the package ends just under the 10 MiB
    // the module accepts.
    QByteArray payload(int(updater::MaxPackageSize) - 4096, '\0');
    QRandomGenerator generator(4846);
    generator.fillRange(reinterpret_cast<quint32*>(payload.data()), payload.size() / 4);
    if (!writeFile(dir.filePath(QStringLiteral("source/payload.bin")), payload))
        return fail("cannot write the payload");

    const QString package = dir.filePath(QStringLiteral("package.ztx"));
    const int packed = QProcess::execute(QStringLiteral(ZTX_PATH),
                                         {QStringLiteral("pack"), dir.filePath(QStringLiteral("source")),
                                          QStringLiteral("--key"), QStringLiteral(TEST_KEYS_DIR "/test-private.pem"),
                                          QStringLiteral("-o"), package});
    if (packed != 0)
        return fail("ztx pack failed");

    // The same bytes for openssl: the signed data and the signature.
    ModuleReader reader(package, false);
    const QString dataPath = dir.filePath(QStringLiteral("data.bin"));
    const QString signaturePath = dir.filePath(QStringLiteral("signature.bin"));
    if (!reader.isRead() || !writeFile(dataPath, reader.moduleData()) ||
        !writeFile(signaturePath, reader.signature()))
        return fail("cannot split the package");
    QFile packageFile(package);
    if (!packageFile.open(QIODevice::ReadOnly))
        return fail("cannot read the package");
    const QByteArray packageBytes = packageFile.readAll();

    std::vector<double> module;
    std::vector<double> openssl;
    for (int run = 0; run <= runs; ++run) {
        CDefaultLibrary library;
        const CDefaultLibraryTestAccess access(library);
        QTemporaryFile& file = access.tempFile();
        if (!file.open() || file.write(packageBytes) != packageBytes.size())
            return fail("cannot fill the temporary file");
        file.close();
        QElapsedTimer timer;
        timer.start();
        const bool verified = access.verifyDownloadedFile();
        const double moduleMs = timer.nsecsElapsed() / 1e6;
        if (!verified)
            return fail("the module rejected the package");

        QProcess process;
        timer.restart();
        process.start(QStringLiteral("openssl"),
                      {QStringLiteral("dgst"), QStringLiteral("-sha256"), QStringLiteral("-verify"),
                       QStringLiteral(TEST_KEYS_DIR "/test-public.pem"), QStringLiteral("-signature"), signaturePath,
                       dataPath});
        process.waitForFinished(-1);
        const double opensslMs = timer.nsecsElapsed() / 1e6;
        if (process.exitCode() != 0 || !process.readAllStandardOutput().contains("Verified OK"))
            return fail("openssl did not verify the package");
        // The first round only warms the caches.
        if (run > 0) {
            module.push_back(moduleMs);
            openssl.push_back(opensslMs);
        }
    }

    const double moduleMedian = median(module);
    const double opensslMedian = median(openssl);
    std::printf("package: %lld bytes, %d runs each (median)\n", static_cast<long long>(packageBytes.size()), runs);
    std::printf("verifyDownloadedFile:            %8.2f ms\n", moduleMedian);
    std::printf("openssl dgst -sha256 -verify:    %8.2f ms (process included)\n", opensslMedian);
    std::printf("ratio module / openssl:          %8.2f\n", moduleMedian / opensslMedian);
    return 0;
}
