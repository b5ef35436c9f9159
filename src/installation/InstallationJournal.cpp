#include "InstallationJournal.h"

#include "FolderHandle.h"
#include "InstallPathRules.h"
#include "module/FaultInjection.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const int FormatVersion = 1;

} // namespace

InstallationJournal::InstallationJournal(const QString& runStamp, const QVector<Entry>& entries,
                                         const QStringList& createdDirectories)
    : m_runStamp(runStamp)
    , m_entries(entries)
    , m_createdDirectories(createdDirectories)
{
}

QVector<InstallationJournal::Entry> InstallationJournal::entries() const
{
    return m_entries;
}

QStringList InstallationJournal::createdDirectories() const
{
    return m_createdDirectories;
}

bool InstallationJournal::write(FolderHandle& folder, const QString& name, const QString& partialName)
{
    QJsonArray files;
    for (const Entry& entry : m_entries)
        files.append(QJsonObject{{QStringLiteral("path"), entry.path}, {QStringLiteral("existed"), entry.existed}});
    const QJsonObject root{{QStringLiteral("format"), FormatVersion},
                           {QStringLiteral("runStamp"), m_runStamp},
                           {QStringLiteral("files"), files},
                           {QStringLiteral("createdDirectories"), QJsonArray::fromStringList(m_createdDirectories)}};
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);

    // A journal half written when the process or the power went is left
    // under its partial name, which no roll-back ever plays back.
    folder.removeTree(partialName);
    QFile file;
    if (!folder.createFile(file, partialName, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_error = folder.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        m_error = file.errorString();
        file.close();
        folder.remove(partialName);
        return false;
    }
    UPDATER_FAULT_POINT("journal.written");
    const bool flushed = folder.flushFile(file);
    file.close();
    if (!flushed || file.error() != QFileDevice::NoError) {
        m_error = flushed ? file.errorString() : folder.errorString();
        folder.remove(partialName);
        return false;
    }
    if (!folder.rename(partialName, folder, name, false)) {
        m_error = folder.errorString();
        folder.remove(partialName);
        return false;
    }
    if (!folder.flush()) {
        m_error = folder.errorString();
        folder.remove(name);
        return false;
    }
    return true;
}

InstallationJournal::ReadOutcome InstallationJournal::read(FolderHandle& folder, const QString& name,
                                                           const QDir& installDir)
{
    m_entries.clear();
    m_createdDirectories.clear();
    QFile file;
    if (!folder.openFile(file, name)) {
        m_error = folder.errorString();
        return Unreadable;
    }
    // Left from a time when others could write into the folder.
    if (FolderHandle::ownerOf(file) == FolderHandle::Owner::OtherUser) {
        m_error = QStringLiteral("it belongs to another user");
        return Untrusted;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QJsonObject root = document.object();
    if (document.isNull() || root.value(QStringLiteral("format")).toInt() != FormatVersion
        || !root.value(QStringLiteral("files")).isArray()) {
        m_error = document.isNull() ? parseError.errorString() : QStringLiteral("unknown journal format");
        return Unreadable;
    }
    m_runStamp = root.value(QStringLiteral("runStamp")).toString();

    InstallPathRules rules(installDir);
    QVector<Entry> entries;
    const QJsonArray files = root.value(QStringLiteral("files")).toArray();
    for (const QJsonValue& value : files) {
        const QJsonObject object = value.toObject();
        Entry entry;
        entry.path = object.value(QStringLiteral("path")).toString();
        entry.existed = object.value(QStringLiteral("existed")).toBool();
        if (!rules.isSafe(entry.path, false)) {
            m_error = QStringLiteral("the path \"%1\" is refused: %2").arg(entry.path, rules.errorString());
            return Untrusted;
        }
        entries.append(entry);
    }
    QStringList directories;
    const QJsonArray directoryValues = root.value(QStringLiteral("createdDirectories")).toArray();
    for (const QJsonValue& value : directoryValues) {
        const QString directory = value.toString();
        if (!rules.isSafe(directory, true)) {
            m_error = QStringLiteral("the folder \"%1\" is refused: %2").arg(directory, rules.errorString());
            return Untrusted;
        }
        directories.append(directory);
    }
    m_entries = entries;
    m_createdDirectories = directories;
    return Read;
}
