#include "InstallationJournal.h"

#include "FilePlatform.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

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

bool InstallationJournal::write(const QString& path, QString* error) const
{
    QJsonArray files;
    for (const Entry& entry : m_entries)
        files.append(QJsonObject{{QStringLiteral("path"), entry.path}, {QStringLiteral("existed"), entry.existed}});
    const QJsonObject root{{QStringLiteral("format"), FormatVersion},
                           {QStringLiteral("runStamp"), m_runStamp},
                           {QStringLiteral("files"), files},
                           {QStringLiteral("createdDirectories"), QJsonArray::fromStringList(m_createdDirectories)}};
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);

    // QSaveFile writes a temporary file, flushes it to the disk and renames
    // it: the journal is there whole or not at all. The rename itself is
    // durable once the folder is flushed.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    if (!FilePlatform::flushDirectory(QFileInfo(path).absolutePath())) {
        *error = FilePlatform::lastErrorText();
        return false;
    }
    return true;
}

bool InstallationJournal::read(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QJsonObject root = document.object();
    if (document.isNull() || root.value(QStringLiteral("format")).toInt() != FormatVersion
        || !root.value(QStringLiteral("files")).isArray()) {
        *error = document.isNull() ? parseError.errorString() : QStringLiteral("unknown journal format");
        return false;
    }
    m_entries.clear();
    const QJsonArray files = root.value(QStringLiteral("files")).toArray();
    for (const QJsonValue& value : files) {
        const QJsonObject object = value.toObject();
        Entry entry;
        entry.path = object.value(QStringLiteral("path")).toString();
        entry.existed = object.value(QStringLiteral("existed")).toBool();
        if (entry.path.isEmpty()) {
            *error = QStringLiteral("journal entry without a path");
            return false;
        }
        m_entries.append(entry);
    }
    m_createdDirectories.clear();
    const QJsonArray directories = root.value(QStringLiteral("createdDirectories")).toArray();
    for (const QJsonValue& value : directories)
        m_createdDirectories.append(value.toString());
    return true;
}
