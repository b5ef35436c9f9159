#include "PartialDownload.h"

#include <QDir>
#include <QList>

#include <updater/updater.h>

#include "installation/FolderHandle.h"
#include "installation/UpdatesFolder.h"
#include "logging/Log.h"

const char* const PartialDownload::DataFileName = "download.part";
const char* const PartialDownload::StateFileName = "download.state";

namespace {

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

PartialDownload::PartialDownload(UpdatesFolder& updates)
    : m_updates(updates)
{
}

PartialDownload::~PartialDownload()
{
    close();
}

QString PartialDownload::path(const char* name) const
{
    return m_updates.pathOf(QLatin1String(name));
}

QString PartialDownload::dataPath() const
{
    return path(DataFileName);
}

QString PartialDownload::readPath()
{
    return FolderHandle::pathOfOpenFile(m_data, dataPath());
}

bool PartialDownload::failed(const QString& what)
{
    m_error = what + QStringLiteral(": ") + m_updates.folder().errorString();
    return false;
}

bool PartialDownload::folderUsable(bool create)
{
    const UpdatesFolder::Opened opened = m_updates.open(create);
    if (opened == UpdatesFolder::Opened::Ready)
        return true;
    m_error = opened == UpdatesFolder::Opened::Missing ? QStringLiteral("%1 does not exist").arg(m_updates.path())
                                                       : m_updates.errorString();
    return false;
}

// An exclusive lock on the open bytes, without waiting: another call that
// uses them holds it.
bool PartialDownload::lock()
{
    return m_updates.folder().lockFile(m_data, QLatin1String(DataFileName)) == FolderHandle::LockResult::Locked;
}

void PartialDownload::close()
{
    m_data.close();
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
    QFile file;
    if (!m_updates.folder().openFile(file, QLatin1String(StateFileName))
        || FolderHandle::ownerOf(file) == FolderHandle::Owner::OtherUser)
        return false;
    const QByteArray text = file.read(kLongestState + 1);
    if (text.size() > kLongestState)
        return false;

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
    if (!folderUsable(false))
        return false;
    Source source;
    const bool stateRead = readState(source);
    const bool opened = m_updates.folder().openFileForUpdate(m_data, QLatin1String(DataFileName), false);
    if (!stateRead && !opened)
        return false;
    if (opened && !lock()) {
        LOG_UPDATER(NOTICE) << "PartialDownload::find :: The partial download in " << m_updates.path()
                            << " is left alone: another call uses it.";
        close();
        return false;
    }
    const qint64 size = opened ? m_data.size() : -1;

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
        LOG_UPDATER(NOTICE) << "PartialDownload::find :: The partial download in " << m_updates.path()
                            << " is removed: " << refusal << ".";
        discard(true);
        return false;
    }
    m_source = source;
    return true;
}

bool PartialDownload::begin(const Source& source)
{
    close();
    if (!isPlainText(source.url.toUtf8()) || !isPlainText(source.finalUrl.toUtf8())
        || !isPlainText(source.validator) || !isPlainText(source.sha256)
        || source.url.size() + source.finalUrl.size() + source.validator.size() > kLongestState / 2) {
        m_error = QStringLiteral("the answer cannot be described in plain text");
        return false;
    }
    if (!folderUsable(true))
        return false;
    FolderHandle& folder = m_updates.folder();
    if (!folder.openFileForUpdate(m_data, QLatin1String(DataFileName), true))
        return failed(QStringLiteral("%1 cannot be created").arg(dataPath()));
    if (!lock()) {
        m_error = QStringLiteral("%1 is used by another call").arg(dataPath());
        close();
        return false;
    }
    // The old bytes go before their description is replaced: a process
    // killed in between leaves a partial without bytes, which is removed.
    const QByteArray text = stateText(source);
    QFile state;
    const bool written = m_data.resize(0) && folder.openFileForUpdate(state, QLatin1String(StateFileName), true)
                         && state.resize(0) && state.write(text) == text.size() && state.flush();
    if (!written)
        m_error = QStringLiteral("%1 cannot be written: %2")
                      .arg(path(StateFileName), state.isOpen() ? state.errorString() : folder.errorString());
    state.close();
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
    if (!m_updates.isOpen()) {
        close();
        return;
    }
    // Another call's bytes are left alone: only those this object had open
    // (and locked), or none at all.
    if (!wasOurs && m_updates.folder().openFileForUpdate(m_data, QLatin1String(DataFileName), false) && !lock()) {
        close();
        return;
    }
    m_updates.folder().remove(QLatin1String(DataFileName));
    m_updates.folder().remove(QLatin1String(StateFileName));
    close();
    if (!keepFolder)
        leaveFolder();
}

void PartialDownload::leaveFolder()
{
    m_updates.removeIfMadeAndEmpty();
}
