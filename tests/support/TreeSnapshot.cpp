#include "TreeSnapshot.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

TreeSnapshot TreeSnapshot::take(const QString& root, const QStringList& ignored)
{
    TreeSnapshot snapshot;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = base.relativeFilePath(path);
        if (ignored.contains(name.section(QLatin1Char('/'), 0, 0)))
            continue;
        const QFileInfo info = it.fileInfo();
        QByteArray entry;
        if (info.isSymLink()) {
            entry = "link -> " + QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            entry = "dir";
        } else {
            QFile file(path);
            QByteArray hash = "unreadable";
            if (file.open(QIODevice::ReadOnly)) {
                QCryptographicHash sha(QCryptographicHash::Sha256);
                sha.addData(&file);
                hash = sha.result().toHex();
            }
            entry = "file " + QByteArray::number(info.size()) + " sha256 " + hash;
        }
        entry += " mode " + QByteArray::number(int(info.permissions()), 16);
        snapshot.m_entries.insert(name, entry);
    }
    return snapshot;
}

bool TreeSnapshot::operator==(const TreeSnapshot& other) const
{
    return m_entries == other.m_entries;
}

QString TreeSnapshot::differences(const TreeSnapshot& other) const
{
    QStringList lines;
    for (auto it = m_entries.constBegin(); it != m_entries.constEnd(); ++it) {
        if (!other.m_entries.contains(it.key()))
            lines << QStringLiteral("only before: %1 (%2)").arg(it.key(), QString::fromLatin1(it.value()));
        else if (other.m_entries.value(it.key()) != it.value())
            lines << QStringLiteral("changed: %1 (%2 -> %3)")
                         .arg(it.key(), QString::fromLatin1(it.value()),
                              QString::fromLatin1(other.m_entries.value(it.key())));
    }
    for (auto it = other.m_entries.constBegin(); it != other.m_entries.constEnd(); ++it) {
        if (!m_entries.contains(it.key()))
            lines << QStringLiteral("only after: %1 (%2)").arg(it.key(), QString::fromLatin1(it.value()));
    }
    return lines.join(QLatin1Char('\n'));
}

QStringList TreeSnapshot::names() const
{
    return m_entries.keys();
}

bool TreeSnapshot::contains(const QString& name) const
{
    return m_entries.contains(name);
}
