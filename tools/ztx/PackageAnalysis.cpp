#include "PackageAnalysis.h"

#include "ExitCode.h"

#include <QFileInfo>

#include <updater/updater.h>

#include "verification/ModuleReader.h"

PackageAnalysis::PackageAnalysis(const QString& packagePath, EVP_PKEY* key, bool builtIn)
    : m_packagePath(packagePath)
    , m_key(key)
    , m_builtIn(builtIn)
{
}

bool PackageAnalysis::run()
{
    const QFileInfo info(m_packagePath);
    if (!info.isFile() || !info.isReadable()) {
        m_error = info.exists() ? QStringLiteral("%1 is not a readable file").arg(m_packagePath)
                                : QStringLiteral("no such file: %1").arg(m_packagePath);
        return false;
    }
    m_packageSize = info.size();
    PackageCheck::sizeAccepted(m_packageSize, &m_problems);

    ModuleReader reader(m_packagePath, false);
    m_trailerRead = reader.isRead();
    if (m_trailerRead) {
        m_archive = reader.moduleData();
        m_signature = reader.signature();
        m_signatureVerdict = SignatureDiagnosis::diagnose(m_key, m_archive, m_signature);
        // With the built-in key, the check clients run decides.
        if (m_builtIn && (m_signatureVerdict == SignatureDiagnosis::Good) != reader.verify(true))
            m_signatureVerdict = SignatureDiagnosis::OtherKey;
    }

    m_contentsRead = m_contents.read(m_packagePath);
    if (!m_contentsRead) {
        m_problems.append({QString(), m_contents.error(), int(updater::FileSystemError)});
        return true;
    }
    PackageCheck check(m_packagePath, m_contents);
    check.contentsAccepted(&m_problems);
    m_notes = check.notes();
    return true;
}

QString PackageAnalysis::error() const
{
    return m_error;
}

qint64 PackageAnalysis::packageSize() const
{
    return m_packageSize;
}

bool PackageAnalysis::trailerRead() const
{
    return m_trailerRead;
}

QByteArray PackageAnalysis::archive() const
{
    return m_archive;
}

QByteArray PackageAnalysis::signature() const
{
    return m_signature;
}

SignatureDiagnosis::Verdict PackageAnalysis::signatureVerdict() const
{
    return m_signatureVerdict;
}

bool PackageAnalysis::contentsRead() const
{
    return m_contentsRead;
}

const PackageContents& PackageAnalysis::contents() const
{
    return m_contents;
}

QList<PackageCheck::Problem> PackageAnalysis::problems() const
{
    return m_problems;
}

QStringList PackageAnalysis::notes() const
{
    return m_notes;
}

int PackageAnalysis::clientResult() const
{
    for (const PackageCheck::Problem& problem : m_problems) {
        if (problem.clientResult == updater::FileOversized)
            return updater::FileOversized;
    }
    if (!m_trailerRead || m_signatureVerdict != SignatureDiagnosis::Good)
        return updater::VerificationError;
    return m_problems.isEmpty() ? int(updater::Success) : m_problems.first().clientResult;
}

int PackageAnalysis::exitCode() const
{
    switch (clientResult()) {
    case updater::Success:
        return Success;
    case updater::VerificationError:
        return VerificationFailed;
    default:
        return Refused;
    }
}
