// Signature check of the downloaded package.

#include "controller/CDefaultLibrary.h"

#include <openssl/err.h>

#include <updater/BaseException.h>

#include "ModuleReader.h"
#include "SignatureCheck.h"
#include "logging/Log.h"
#include "module/ResultTexts.h"

bool CDefaultLibrary::verifyDownloadedFile()
{
    // The download ran on this thread through Qt's TLS, which shares
    // OpenSSL's error queue: start empty, so that the error logged below is
    // the one of this check.
    ERR_clear_error();

    const QString oFilePath = m_packageFile.readPath();
    // The digest taken while the package was written stands for its data:
    // only the trailer is read from the file. A file that cannot be read
    // fails in the reader, which says so.
    const PackageDigest* digest = m_packageFile.digest();
    const PackageDigest unreadable;
    ModuleReader reader(oFilePath, digest ? *digest : unreadable);

    // Nothing in the reader throws today; an exception from it would count
    // as a failed attempt, as the check's contract has it.
    try {
        if (reader.verify(true))
            return true;
    } catch (const BaseException& exception) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::verifyDownloadedFile :: New type verification problem: "
                          << exception.what();
    }

    // The old type of check always fails (verify(false) is false by its
    // contract); the attempt is kept, as the check's steps name it.
    try {
        if (reader.verify(false))
            return true;
    } catch (const BaseException& exception) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::verifyDownloadedFile :: Old type verification type problem: "
                          << exception.what();
    }

    LOG_UPDATER(ERROR) << "CDefaultLibrary::verifyDownloadedFile :: Verification error: "
                       << SignatureCheck::takeOldestErrorText();
    m_result = ResultTexts::verificationError();
    return false;
}
