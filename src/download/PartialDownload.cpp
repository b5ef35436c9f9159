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
    m_keptSize = 0;
    if (folderState(m_folder) != FolderState::Usable)
        return false;
    Source source;
    const bool stateRead = readState(source);
    const Handle data = openFile(path(DataFileName), Open::Update);
    if (!stateRead && data == NoHandle)
        return false;
    if (data != NoHandle && !lockFile(data)) {
        LOG_UPDATER(NOTICE) << "PartialDownload::find :: The partial download in " << m_folder
                            << " is left alone: another call uses it.";
        closeFile(data);
        return false;
    }
    const qint64 size = data == NoHandle ? -1 : fileSize(data);

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
    m_data = data;
    if (!refusal.isEmpty()) {
        LOG_UPDATER(NOTICE) << "PartialDownload::find :: The partial download in " << m_folder
                            << " is removed: " << refusal << ".";
        discard(true);
        return false;
    }
    m_source = source;
    m_keptSize = size;
    return true;
}

bool PartialDownload::begin(const Source& source)
{
    close();
    m_keptSize = 0;
    if (!isPlainText(source.url.toUtf8()) || !isPlainText(source.finalUrl.toUtf8())
        || !isPlainText(source.validator) || !isPlainText(source.sha256)
        || source.url.size() + source.finalUrl.size() + source.validator.size() > kLongestState / 2) {
        m_error = QStringLiteral("the answer cannot be described in plain text");
        return false;
    }
    if (!folderUsable(true))
        return false;
    m_data = openFile(path(DataFileName), Open::Create);
    if (m_data == NoHandle)
        return failed(QStringLiteral("%1 cannot be created").arg(dataPath()));
    if (!lockFile(m_data)) {
        failed(QStringLiteral("%1 is used by another call").arg(dataPath()));
        close();
        return false;
    }
    // The old bytes go before their description is replaced: a process
    // killed in between leaves a partial without bytes, which is removed.
    const QByteArray text = stateText(source);
    Handle state = NoHandle;
    const bool written = truncateFile(m_data) && (state = openFile(path(StateFileName), Open::Create)) != NoHandle
                         && truncateFile(state) && writeFile(state, text.constData(), text.size());
    if (!written)
        failed(QStringLiteral("%1 cannot be written").arg(path(StateFileName)));
    closeFile(state);
    if (!written) {
        discard();
        return false;
    }
    m_source = source;
    return true;
}

void PartialDownload::keep()
{
    close();
}

void PartialDownload::discard(bool keepFolder)
{
    const bool wasOurs = isActive();
    close();
    m_keptSize = 0;
    if (folderState(m_folder) != FolderState::Usable)
        return;
    // Another call's bytes are left alone: only those this object had open,
    // or none at all.
    const Handle data = wasOurs ? NoHandle : openFile(path(DataFileName), Open::Update);
    if (data != NoHandle && !lockFile(data)) {
        closeFile(data);
        return;
    }
    removeFile(path(DataFileName));
    removeFile(path(StateFileName));
    closeFile(data);
    if (!keepFolder)
        leaveFolder();
}

void PartialDownload::leaveFolder()
{
    if (m_madeFolder && removeEmptyFolder(m_folder))
        m_madeFolder = false;
}
