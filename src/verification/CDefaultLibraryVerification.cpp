// Signature check of the downloaded package.

#include "controller/CDefaultLibrary.h"

#include <QFile>
#include <QFileInfo>

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

    const QString oFilePath = QFileInfo(m_tempFile).absoluteFilePath();
    // The digest taken while the package was written stands for its data:
    // only the trailer is read from the file. A file that cannot be read
    // fails in the reader, which says so.
    QString error;
    tempFileDigest(error);
    ModuleReader reader(oFilePath, m_packageDigest);

    try {
        if (reader.verify(true))
            return true;
    } catch (const BaseException& exception) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::verifyDownloadedFile :: New type verification problem: "
                          << exception.what();
    }

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

const PackageDigest* CDefaultLibrary::tempFileDigest(QString& error)
{
    // Every byte written through writeToTempFile is in the digest, so a file
    // of the digest's length is the file the digest was taken of.
    QFile package(m_tempFile.fileName());
    if (package.size() == m_packageDigest.size())
        return &m_packageDigest;

    m_packageDigest.reset();
    if (!package.open(QIODevice::ReadOnly)) {
        error = package.errorString();
        return nullptr;
    }
    QByteArray piece(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 length = package.read(piece.data(), piece.size());
        if (length < 0) {
            error = package.errorString();
            m_packageDigest.reset();
            return nullptr;
        }
        if (length == 0)
            break;
        m_packageDigest.add(piece.constData(), length);
    }
    return &m_packageDigest;
}
