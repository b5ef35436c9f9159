#include "PEHeaderData.h"

#include <QFile>
#include <QtEndian>

#include "logging/Log.h"

namespace {

// Offsets in the PE32 layout: e_lfanew in the DOS header, then relative to
// the start of the NT headers.
const qint64 NtHeaderOffsetField = 0x3C;
const qint64 SizeOfHeadersField = 0x54;
const qint64 CertificateTableOffsetField = 0x98;
const qint64 CertificateTableSizeField = 0x9C;

} // namespace

PEHeaderData::PEHeaderData(QFile* file)
    : m_file(file)
    , m_headerSize(0)
    , m_authenticodePos(0)
{
}

void PEHeaderData::loadData()
{
    if (!m_file) {
        LOG_MODULETOOLS(ERROR) << "PEHeaderData::loadData :: File pointer is empty!";
    } else {
        LOG_MODULETOOLS(NOTICE) << "PEHeaderData::loadData :: Checking position of authenticode signature in file: "
                                << m_file->fileName();
        if (!m_file->isOpen()) {
            LOG_MODULETOOLS(ERROR) << "PEHeaderData::loadData :: File isn't open";
        } else {
            const qint64 fileSize = m_file->size();
            uchar* image = m_file->map(0, fileSize, QFileDevice::MapPrivateOption);
            if (!image) {
                LOG_MODULETOOLS(ERROR) << "PEHeaderData::loadData :: Couldn't map file";
            } else {
                // Every field read must lie inside the file; a file too short
                // for them is not a PE image we can use.
                bool valid = fileSize >= NtHeaderOffsetField + 4 && image[0] == 'M' && image[1] == 'Z';
                qint64 ntHeaders = 0;
                if (valid) {
                    ntHeaders = qFromLittleEndian<quint32>(image + NtHeaderOffsetField);
                    valid = ntHeaders + CertificateTableSizeField + 4 <= fileSize;
                }
                if (valid) {
                    m_authenticodePos = qFromLittleEndian<quint32>(image + ntHeaders + CertificateTableOffsetField);
                    if (qFromLittleEndian<quint32>(image + ntHeaders + CertificateTableSizeField) == 0)
                        m_authenticodePos = 0;
                    m_headerSize = qFromLittleEndian<quint32>(image + ntHeaders + SizeOfHeadersField);
                } else {
                    LOG_MODULETOOLS(NOTICE) << "PEHeaderData::loadData :: Invalid PE file header";
                }
                m_file->unmap(image);
            }
        }
    }
    LOG_MODULETOOLS(NOTICE) << "PEHeaderData::loadData :: Authenticode signature position: " << m_authenticodePos;
    LOG_MODULETOOLS(NOTICE) << "PEHeaderData::loadData :: PEHeader size: " << m_headerSize;
}

qint64 PEHeaderData::authenticodePos() const
{
    return m_authenticodePos;
}

quint32 PEHeaderData::headerSize() const
{
    return quint32(m_headerSize);
}
