#ifndef INSTALLATIONJOURNAL_H
#define INSTALLATIONJOURNAL_H

#include <QDir>
#include <QString>
#include <QStringList>
#include <QVector>

class FolderHandle;

// What an installation is about to change, written to the disk before it
// moves the first file, so that an installation interrupted at any moment
// (killed, power cut) can be rolled back by the next one: its run stamp,
// every destination path with whether something stood there before, and
// the folders it creates. Paths are relative to the installation folder.
//
// Stored as JSON in "UPDATES/<run stamp>.journal". Renaming it to
// "<run stamp>.committed" is the installation's commit point.
//
// A journal is read as untrusted input, like a package: whoever could write
// into "UPDATES" could have put it there, and playing it back removes and
// renames files. Every path in it must pass the rules a package entry
// passes (InstallPathRules), and the file must be the caller's or root's.
class InstallationJournal
{
public:
    struct Entry {
        QString path;
        bool existed = false;
    };

    enum ReadOutcome {
        Read,
        Unreadable, // cannot be read or is not a journal (damaged, cut short)
        Untrusted,  // a path in it could lead out of the installation folder
    };

    InstallationJournal() = default;
    InstallationJournal(const QString& runStamp, const QVector<Entry>& entries, const QStringList& createdDirectories);

    QVector<Entry> entries() const;
    // Deepest first.
    QStringList createdDirectories() const;

    // Writes the journal to partialName in the folder, flushes it to the
    // disk, renames it to name and flushes the folder: afterwards the
    // journal is on the disk whole, and before that it is not there under
    // its name at all.
    bool write(FolderHandle& folder, const QString& name, const QString& partialName);
    // Reads the journal `name` of the folder; its paths are relative to
    // installDir.
    ReadOutcome read(FolderHandle& folder, const QString& name, const QDir& installDir);
    // Why the last write or read failed.
    QString errorString() const { return m_error; }

private:
    // Written for whoever reads the file; the roll-back knows the run stamp
    // from the journal's name.
    QString m_runStamp;
    QVector<Entry> m_entries;
    QStringList m_createdDirectories;
    QString m_error;
};

#endif
