// libFuzzer target: ModuleReader on arbitrary files, in both forms.
//
// The reader must never read outside the file, never crash, and when it
// reports the file read, its module data and signature must be exactly the
// parts of the file the trailer describes.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>

#include "verification/ModuleReader.h"
#include "verification/PackageDigest.h"
#include "verification/SignatureTrailer.h"

namespace {

QString samplePath()
{
    static const QString path =
        QDir::temp().filePath(QStringLiteral("fuzz_module_reader.%1").arg(QCoreApplication::applicationPid()));
    return path;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    {
        QFile file(samplePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            std::abort();
    }

    ModuleReader plain(samplePath(), false);
    if (plain.isRead()) {
        const QByteArray moduleData = plain.moduleData();
        const QByteArray signature = plain.signature();
        check(signature.size() <= SignatureTrailer::MaxSignatureSize);
        check(qint64(moduleData.size()) + signature.size() + SignatureTrailer::FixedLength == qint64(size));
        check(bytes.startsWith(moduleData));
        check(bytes.mid(moduleData.size() + SignatureTrailer::SizeFieldLength, signature.size()) == signature);
        plain.verify(true);
    }
    // Read through the digest of its bytes, the trailer alone: the same
    // outcome.
    PackageDigest digest;
    digest.add(bytes);
    ModuleReader trailerOnly(samplePath(), digest);
    check(trailerOnly.isRead() == plain.isRead() && trailerOnly.signature() == plain.signature());
    check(trailerOnly.moduleData().isEmpty());

    ModuleReader authenticode(samplePath(), true);
    if (authenticode.isRead()) {
        check(authenticode.signature().size() <= SignatureTrailer::MaxSignatureSize);
        // Without a marker before the certificate table the trailer is taken
        // to end there, one byte shorter.
        check(qint64(authenticode.moduleData().size()) + authenticode.signature().size() +
                  SignatureTrailer::FixedLength - SignatureTrailer::MarkerLength <= qint64(size));
        check(bytes.contains(authenticode.moduleData()));
        authenticode.verify(true);
    }
    return 0;
}
