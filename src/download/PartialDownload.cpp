#include "PartialDownload.h"

#include <QDir>
#include <QList>

#include <updater/updater.h>

#include "logging/Log.h"

const char* const PartialDownload::DataFileName = "download.part";
const char* const PartialDownload::StateFileName = "download.state";

namespace {

using namespace PartialDownloadFiles;

const char* const kStateHeader = "updater partial download 1";
// Far more than the URLs and validators of any real answer.
const qint64 kLongestState = 16 * 1024;
const qint64 kPieceSize = 64 * 1024;

// Printable ASCII only, so that a state file holds one value a line.
bool isPlainText(const QByteArray& text)
{
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

} // namespace

PartialDownload::PartialDownload(const QString& folderPath)
    : m_folder(folderPath)
{
}

PartialDownload::~PartialDownload()
{
    close();
}

QString PartialDownload::path(const char* name) const
{
    return m_folder + QLatin1Char('/') + QLatin1String(name);
}

QString PartialDownload::dataPath() const
{
    return path(DataFileName);
}

bool PartialDownload::failed(const QString& what)
{
    m_error = what + QStringLiteral(": ") + lastErrorText();
    return false;
}

bool PartialDownload::folderUsable(bool create)
{
    const FolderState state = folderState(m_folder);
    if (state == FolderState::Usable)
        return true;
    if (state == FolderState::Missing && create) {
        if (!createFolder(m_folder))
            return failed(QStringLiteral("%1 cannot be created").arg(m_folder));
        m_madeFolder = true;
        return true;
    }
    m_error = state == FolderState::Missing
                  ? QStringLiteral("%1 does not exist").arg(m_folder)
                  : QStringLiteral("%1 is not a folder of this user's that only its owner can write into").arg(m_folder);
    return false;
}

void PartialDownload::close()
{
    closeFile(m_data);
    m_data = NoHandle;
}

QByteArray PartialDownload::stateText(const Source& source) const
{
    QByteArray text = QByteArray(kStateHeader) + '\n';
    text += "url=" + source.url.toUtf8() + '\n';
    text += "final-url=" + source.finalUrl.toUtf8() + '\n';
    text += "validator=" + source.validator + '\n';
    text += "length=" + QByteArray::number(source.length) + '\n';
    text += "sha256=" + source.sha256 + '\n';
    return text;
}

bool PartialDownload::readState(Source& source)
{
    const Handle file = openFile(path(StateFileName), Open::Read);
    if (file == NoHandle)
        return false;
    QByteArray text(int(kLongestState + 1), Qt::Uninitialized);
    qint64 length = 0;
    for (qint64 now; length < text.size() && (now = readFile(file, text.data() + length, text.size() - length)) > 0;)
        length += now;
    closeFile(file);
    if (length > kLongestState)
        return false;
    text.truncate(int(length));

    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 7 || lines.at(0) != kStateHeader || !lines.at(6).isEmpty())
        return false;
    const char* const keys[] = {"url=", "final-url=", "validator=", "length=", "sha256="};
    QByteArray values[5];
    for (int i = 0; i < 5; ++i) {
        if (!lines.at(i + 1).startsWith(keys[i]) || !isPlainText(lines.at(i + 1)))
            return false;
        values[i] = lines.at(i + 1).mid(int(qstrlen(keys[i])));
    }
    bool lengthRead = false;
    source.url = QString::fromUtf8(values[0]);
    source.finalUrl = QString::fromUtf8(values[1]);
    source.validator = values[2];
    source.length = values[3].toLongLong(&lengthRead);
    source.sha256 = values[4];
    return lengthRead && !source.url.isEmpty() && !source.finalUrl.isEmpty() && !source.validator.isEmpty();
}

bool PartialDownload::find(const QString& url, const QByteArray& sha256)
{
    close();
    m_size = 0;
    if (folderState(m_folder) != FolderState::Usable)
        return false;
    Source source;
    const bool stateRead = readState(source);
    const Handle data = openFile(path(DataFileName), Open::Read);
    const qint64 size = data == NoHandle ? -1 : fileSize(data);
    closeFile(data);
    if (!stateRead && data == NoHandle)
        return false;

    QString refusal;
    if (!stateRead)
        refusal = QStringLiteral("what it is cannot be read");
    else if (source.url != url)
        refusal = QStringLiteral("another URL is asked for");
    else if (!sha256.isEmpty() && !source.sha256.isEmpty() && sha256.toLower() != source.sha256.toLower())
        refusal = QStringLiteral("another SHA-256 is expected");
    else if (source.length <= 0 || source.length > updater::MaxPackageSize)
        refusal = QStringLiteral("its length of %1 bytes is not that of a package").arg(source.length);
    else if (size <= 0 || size >= source.length)
        refusal = QStringLiteral("it holds %1 of %2 bytes").arg(size).arg(source.length);
    if (!refusal.isEmpty()) {
        LOG_UPDATER(NOTICE) << "PartialDownload::find :: The partial download in " << m_folder
                            << " is removed: " << refusal << ".";
        discard();
        return false;
    }
    m_source = source;
    m_size = size;
    return true;
}

bool PartialDownload::resume(const std::function<bool(const char*, qint64)>& sink)
{
    close();
    const Handle data = openFile(path(DataFileName), Open::Read);
    if (data == NoHandle) {
        failed(QStringLiteral("%1 cannot be opened").arg(dataPath()));
        discard();
        return false;
    }
    QByteArray piece(int(kPieceSize), Qt::Uninitialized);
    qint64 read = 0;
    bool sunk = true;
    while (read < m_size && sunk) {
        const qint64 length = readFile(data, piece.data(), qMin<qint64>(piece.size(), m_size - read));
        if (length <= 0)
            break;
        sunk = sink(piece.constData(), length);
        read += length;
    }
    if (read < m_size)
        failed(QStringLiteral("%1 cannot be read").arg(dataPath()));
    closeFile(data);
    if (read == m_size && sunk) {
        m_data = openFile(path(DataFileName), Open::Append);
        if (m_data != NoHandle)
            return true;
        failed(QStringLiteral("%1 cannot be opened").arg(dataPath()));
    } else if (!sunk) {
        m_error = QStringLiteral("its bytes cannot be stored");
    }
    discard();
    return false;
}

bool PartialDownload::begin(const Source& source)
{
    close();
    m_size = 0;
    if (!isPlainText(source.url.toUtf8()) || !isPlainText(source.finalUrl.toUtf8())
        || !isPlainText(source.validator) || !isPlainText(source.sha256)
        || source.url.size() + source.finalUrl.size() + source.validator.size() > kLongestState / 2) {
        m_error = QStringLiteral("the answer cannot be described in plain text");
        return false;
    }
    if (!folderUsable(true))
        return false;
    // The old bytes go before their description is replaced: a process
    // killed in between leaves a partial without bytes, which is removed.
    m_data = openFile(path(DataFileName), Open::Create);
    if (m_data == NoHandle)
        return failed(QStringLiteral("%1 cannot be created").arg(dataPath()));
    const QByteArray text = stateText(source);
    const Handle state = openFile(path(StateFileName), Open::Create);
    const bool written = state != NoHandle && writeFile(state, text.constData(), text.size());
    closeFile(state);
    if (!written) {
        failed(QStringLiteral("%1 cannot be written").arg(path(StateFileName)));
        discard();
        return false;
    }
    m_source = source;
    return true;
}

bool PartialDownload::append(const char* data, qint64 size)
{
    if (m_data == NoHandle)
        return false;
    if (!writeFile(m_data, data, size))
        return failed(QStringLiteral("%1 cannot be written").arg(dataPath()));
    m_size += size;
    return true;
}

void PartialDownload::keep()
{
    close();
}

void PartialDownload::discard()
{
    close();
    m_size = 0;
    if (folderState(m_folder) != FolderState::Usable)
        return;
    removeFile(path(DataFileName));
    removeFile(path(StateFileName));
    if (m_madeFolder && removeEmptyFolder(m_folder))
        m_madeFolder = false;
}
