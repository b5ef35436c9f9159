// The package's SHA-256 against the one the host expects.
//
// The signature proves that the publisher made a package, not that it is the
// one the host wants: anyone on the path can serve an older signed package.
// A host that learns the package's hash from its own authenticated source
// passes it in the request's "sha256", and nothing else is installed. The
// request is refused before anything is downloaded when that is not 64
// hexadecimal digits (verifyRequestValues), so here it is one.

#include "controller/CDefaultLibrary.h"

#include "logging/Log.h"
#include "module/FaultInjection.h"
#include "module/ResultTexts.h"

bool CDefaultLibrary::verifyExpectedHash()
{
    UPDATER_FAULT_POINT("package-verification");
    const QByteArray& expected = m_packageFile.expectedSha256();
    if (expected.isEmpty())
        return true;

    const PackageDigest* digest = m_packageFile.digest();
    const QByteArray actual = digest ? digest->sha256().toHex() : QByteArray();
    if (actual.isEmpty()) {
        LOG_UPDATER(ERROR) << "CDefaultLibrary::verifyExpectedHash :: Package cannot be read to compute its SHA-256: "
                           << m_packageFile.errorString();
        m_result = ResultTexts::verificationError();
        return false;
    }

    if (expected.toLower() != actual) {
        LOG_UPDATER(ERROR) << "CDefaultLibrary::verifyExpectedHash :: SHA-256 of the package differs from the "
                              "expected one: expected="
                           << expected.toLower().constData() << " actual=" << actual.constData();
        m_result = ResultTexts::verificationError();
        return false;
    }
    LOG_UPDATER(NOTICE) << "CDefaultLibrary::verifyExpectedHash :: SHA-256 of the package is the expected one: "
                        << actual.constData();
    return true;
}
