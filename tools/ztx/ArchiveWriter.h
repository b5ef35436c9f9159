#ifndef ARCHIVEWRITER_H
#define ARCHIVEWRITER_H

#include <QList>
#include <QPair>
#include <QString>

class OutputTarget;

// Zips a folder for `pack`: every folder, regular file and symbolic link
// below it, named by its path relative to the folder, in sorted order.
// Symbolic links are stored as links (their target relative to the link's
// folder), never followed: a link that leads out of the folder is then
// refused by the module's entry check instead of pulling in what it points
// to. Anything else (FIFO, socket, device) is refused. A folder of more
// entries or bytes than clients unpack is refused before anything is
// compressed.
class ArchiveWriter
{
public:
    enum Outcome { Written, TooLarge, Refused, Failed };

    // output: the package being written; left out when it lies in the folder.
    ArchiveWriter(const QString& folder, const OutputTarget& output);

    // Stops with TooLarge once the archive grows past sizeLimit bytes.
    Outcome write(const QString& archivePath, qint64 sizeLimit);

    // For the outcomes other than Written: the entry (may be empty) and why.
    QString entry() const;
    QString reason() const;
    int entryCount() const;
    // The largest files of the folder (up to ten) with their sizes, largest
    // first: "a.bin (5000 bytes), b.bin (300 bytes)".
    QString largestEntries() const;
    // Whether the output was found in the folder and left out.
    bool leftOutOutput() const;

private:
    Outcome stop(Outcome outcome, const QString& entry, const QString& reason);

    QString m_folder;
    const OutputTarget& m_output;
    QString m_entry;
    QString m_reason;
    int m_entryCount = 0;
    QList<QPair<qint64, QString>> m_sizes; // each file's size and name
    bool m_leftOutOutput = false;
};

#endif
