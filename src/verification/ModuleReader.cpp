#include "ModuleReader.h"

#include <QFile>

#include <exception>
#include <limits>

#include "PEHeaderData.h"
#include "PackageDigest.h"
#include "SignatureCheck.h"
#include "SignatureTrailer.h"
#include "VerificationKey.h"
#include "logging/Log.h"

ModuleReader::ModuleReader(const QString& filePath, bool withAuthenticode)
    : m_filePath(filePath)
    , m_isRead(false)
    , m_withAuthenticode(withAuthenticode)
    , m_fileDigest(nullptr)
{
    readModule();
}

ModuleReader::ModuleReader(const QString& filePath, const PackageDigest& fileDigest)
    : m_filePath(filePath)
    , m_isRead(false)
    , m_withAuthenticode(false)
    , m_fileDigest(&fileDigest)
{
    readModule();
    // The digest is the caller's: it is not used after the constructor.
    m_fileDigest = nullptr;
}

bool ModuleReader::verify(bool newType)
{
    if (!m_isRead || !newType)
        return false;
    const OpenSslPointer<EVP_PKEY> key = VerificationKey::createBuiltInKey();
    return SignatureCheck::verifyDigest(
        key.get(), m_moduleDataDigest.isEmpty() ? SignatureCheck::sha256(m_moduleData) : m_moduleDataDigest,
        m_signature);
}

QByteArray ModuleReader::moduleData()
{
    return m_moduleData;
}

QByteArray ModuleReader::signature()
{
    return m_signature;
}

bool ModuleReader::isRead() const
{
    return m_isRead;
}

int ModuleReader::getOctawordPaddingSize(const QByteArray& bytes)
{
    const int length = qMin(bytes.size(), 8);
    for (int i = 0; i < length; ++i) {
        if (bytes.at(i) == SignatureTrailer::EndOfSignatureMarker) {
            const int padding = 7 - i;
            LOG_MODULETOOLS(NOTICE) << "ModuleReader::getOctawordPaddingSize :: Octaword padding size: " << padding;
            return padding;
        }
    }
    LOG_MODULETOOLS(ERROR) << "ModuleReader::getOctawordPaddingSize :: There was no end of signature marker in the file!";
    return -1;
}

void ModuleReader::readModule()
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        LOG_MODULETOOLS(ERROR) << "ModuleReader::readModule :: Error while reading extra data from file: " << m_filePath;
        return;
    }
    try {
        if (!parse(file)) {
            m_moduleData.clear();
            m_signature.clear();
        }
    } catch (const std::exception& exception) {
        LOG_MODULETOOLS(WARN) << "ModuleReader::readModule :: Exception: " << exception.what();
        m_moduleData.clear();
        m_signature.clear();
        m_moduleDataDigest.clear();
        m_isRead = false;
    }
    file.close();
}

// Reads exactly length bytes at position. Positions outside the file count
// as a failed read, so no size field can make the reader look outside it.
bool ModuleReader::readAt(QFile& file, qint64 position, qint64 length, QByteArray& bytes) const
{
    if (position < 0 || length < 0 || length > std::numeric_limits<int>::max() - 1 ||
        position > file.size() - length || !file.seek(position)) {
        return false;
    }
    bytes = file.read(length);
    return bytes.size() == length;
}

bool ModuleReader::parse(QFile& file)
{
    const qint64 iFileSize = file.size();
    LOG_MODULETOOLS(INFO) << "ModuleReader::readModule :: iFileSize" << iFileSize;

    // A field or area that does not lie inside the file (or that starts
    // before the module data) ends the read here.
    auto outsideFile = [this]() {
        LOG_MODULETOOLS(ERROR) << "ModuleReader::readModule :: Error while reading extra data from file: "
                               << m_filePath;
        return false;
    };

    const qint64 sizeField = SignatureTrailer::SizeFieldLength;
    qint64 start = 0;
    qint64 signEndPos = iFileSize - 1;
    QByteArray bytes;
    if (m_withAuthenticode) {
        PEHeaderData header(&file);
        header.loadData();
        start = header.headerSize();
        signEndPos = header.authenticodePos() != 0 ? header.authenticodePos() : iFileSize;
        if (!readAt(file, signEndPos - sizeField, sizeField, bytes))
            return outsideFile();
        const int padding = getOctawordPaddingSize(bytes);
        LOG_MODULETOOLS(INFO) << "ModuleReader::readModule :: signEndPos before octaword padding: " << signEndPos;
        if (padding >= 0)
            signEndPos -= padding + 1;
        LOG_MODULETOOLS(INFO) << "ModuleReader::readModule :: signEndPos after octaword padding: " << signEndPos;
    }

    // Both size fields must fit between the start of the module data and the
    // marker.
    if (signEndPos - start < 2 * sizeField || !readAt(file, signEndPos - sizeField, sizeField, bytes))
        return outsideFile();
    const qint64 iExtraDataSize = SignatureTrailer::decodeSize(bytes.constData());
    LOG_MODULETOOLS(INFO) << "ModuleReader::readModule :: iFileSize: " << iFileSize
                          << " iExtraDataSize: " << iExtraDataSize << " sizeof(iExtraDataSize): " << sizeField;
    if (iExtraDataSize > SignatureTrailer::MaxExtraDataSize || iExtraDataSize < 0) {
        LOG_MODULETOOLS(INFO) << "ModuleReader::readModule :: wrong  iSignatureDataSize" << iExtraDataSize;
        return false;
    }

    const qint64 signatureSizePos = signEndPos - iExtraDataSize - sizeField;
    if (signatureSizePos < start || !readAt(file, signatureSizePos, sizeField, bytes))
        return outsideFile();
    const qint64 iSignatureSize = SignatureTrailer::decodeSize(bytes.constData());
    LOG_MODULETOOLS(INFO) << "ModuleReader::readModule :: iSignatureSize: " << iSignatureSize
                          << " sizeof(iSignatureSize): " << sizeField;
    // Compared without the addition, which could overflow for a hostile value.
    if (iSignatureSize != iExtraDataSize - sizeField) {
        LOG_MODULETOOLS(INFO) << "ModuleReader::readModule :: wrong  iSignatureDataSize" << iExtraDataSize;
        return false;
    }
    QByteArray signature;
    if (!readAt(file, signatureSizePos + sizeField, iSignatureSize, signature))
        return outsideFile();

    // signatureSizePos >= start, so the module data size is never negative
    // and never larger than the file.
    const qint64 iModuleDataSize = signEndPos - iSignatureSize - start - 2 * sizeField;
    QByteArray moduleData;
    QByteArray moduleDataDigest;
    if (m_fileDigest) {
        // The digest must be of this very file, which holds the module data
        // from its first byte.
        if (m_fileDigest->size() != iFileSize || start != 0)
            return outsideFile();
        moduleDataDigest = m_fileDigest->sha256OfFirst(iModuleDataSize);
        if (moduleDataDigest.isEmpty())
            return outsideFile();
    } else if (!readAt(file, start, iModuleDataSize, moduleData)) {
        return outsideFile();
    }
    LOG_MODULETOOLS(INFO) << "ModuleReader::readModule :: iModuleDataSize: " << iModuleDataSize
                          << " sizeof(iModuleDataSize): " << sizeField;

    m_moduleData = moduleData;
    m_moduleDataDigest = moduleDataDigest;
    m_signature = signature;
    m_isRead = true;
    return true;
}
