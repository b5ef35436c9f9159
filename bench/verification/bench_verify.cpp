// Times CDefaultLibrary::verifyDownloadedFile on a 10 MiB package beside
// `openssl dgst -sha256 -verify` on the same bytes, and prints the ratio.
// The check runs as after a download, on a temporary file that the module
// wrote in pieces (and hashed as it wrote), and on one filled by someone
// else, which it reads once. The cost of hashing while writing is the time
// of the module's writes less that of the same writes straight to a file.
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

    // Pieces of the size the download reads.
    const int piece = 64 * 1024;
    std::vector<double> module;
    std::vector<double> moduleElsewhere;
    std::vector<double> moduleWrites;
    std::vector<double> plainWrites;
    std::vector<double> openssl;
    for (int run = 0; run <= runs; ++run) {
        QElapsedTimer timer;
        double writesMs = 0;
        double moduleMs = 0;
        {
            CDefaultLibrary library;
            const CDefaultLibraryTestAccess access(library);
            if (!access.tempFile().open())
                return fail("cannot open the temporary file");
            timer.start();
            for (int at = 0; at < packageBytes.size(); at += piece) {
                if (!access.writeToTempFile(packageBytes.mid(at, piece)))
                    return fail("cannot fill the temporary file");
            }
            access.tempFile().close();
            writesMs = timer.nsecsElapsed() / 1e6;
            timer.restart();
            const bool verified = access.verifyDownloadedFile();
            moduleMs = timer.nsecsElapsed() / 1e6;
            if (!verified)
                return fail("the module rejected the package");
        }
        double plainMs = 0;
        double elsewhereMs = 0;
        {
            CDefaultLibrary library;
            const CDefaultLibraryTestAccess access(library);
            QTemporaryFile& file = access.tempFile();
            if (!file.open())
                return fail("cannot open the temporary file");
            timer.restart();
            for (int at = 0; at < packageBytes.size(); at += piece) {
                const QByteArray bytes = packageBytes.mid(at, piece);
                if (file.write(bytes) != bytes.size())
                    return fail("cannot fill the temporary file");
            }
            file.close();
            plainMs = timer.nsecsElapsed() / 1e6;
            timer.restart();
            const bool verified = access.verifyDownloadedFile();
            elsewhereMs = timer.nsecsElapsed() / 1e6;
            if (!verified)
                return fail("the module rejected the package");
        }

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
            moduleElsewhere.push_back(elsewhereMs);
            moduleWrites.push_back(writesMs);
            plainWrites.push_back(plainMs);
            openssl.push_back(opensslMs);
        }
    }

    const double moduleMedian = median(module);
    const double opensslMedian = median(openssl);
    std::printf("package: %lld bytes, %d runs each (median)\n", static_cast<long long>(packageBytes.size()), runs);
    std::printf("verifyDownloadedFile:            %8.2f ms (file written and hashed by the module)\n", moduleMedian);
    std::printf("verifyDownloadedFile:            %8.2f ms (file written by another, read once)\n",
                median(moduleElsewhere));
    std::printf("writes of the module:            %8.2f ms (64 KiB pieces, hashed as written)\n", median(moduleWrites));
    std::printf("the same writes to a file:       %8.2f ms\n", median(plainWrites));
    std::printf("openssl dgst -sha256 -verify:    %8.2f ms (process included)\n", opensslMedian);
    std::printf("ratio module / openssl:          %8.2f\n", moduleMedian / opensslMedian);
    return 0;
}
