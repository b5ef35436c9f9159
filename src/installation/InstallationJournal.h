#ifndef INSTALLATIONJOURNAL_H
#define INSTALLATIONJOURNAL_H

#include <QString>
#include <QStringList>
#include <QVector>

// What an installation is about to change, written to the disk before it
// moves the first file, so that an installation interrupted at any moment
// (killed, power cut) can be rolled back by the next one: its run stamp,
// every destination path with whether something stood there before, and
// the folders it creates. Paths are relative to the installation folder.
//
// Stored as JSON in "UPDATES/<run stamp>.journal". Removing the journal is
// the installation's commit point.
class InstallationJournal
{
public:
    struct Entry {
        QString path;
        bool existed = false;
    };

    InstallationJournal() = default;
    InstallationJournal(const QString& runStamp, const QVector<Entry>& entries, const QStringList& createdDirectories);

    QVector<Entry> entries() const;
    // Deepest first.
    QStringList createdDirectories() const;

    // Writes the journal to the path and makes it durable, together with
    // its name in the folder.
    bool write(const QString& path, QString* error) const;
    bool read(const QString& path, QString* error);

private:
    // Written for whoever reads the file; the roll-back knows the run stamp
    // from the journal's name.
    QString m_runStamp;
    QVector<Entry> m_entries;
    QStringList m_createdDirectories;
};

#endif
