#ifndef PACKAGECHECK_H
#define PACKAGECHECK_H

#include <QList>
#include <QString>
#include <QStringList>

class PackageContents;

// Whether clients would install a package, decided by the module's own code:
// the size limit of downloads and of UpdateFromData, then, once the
// signature has passed, the module's entry check (PackageEntryCheck) and the
// unpacking the module does (into a temporary folder here). The
// installation folder is taken to be empty, so a client whose own folder
// holds symbolic links that lead outside may still refuse a package that
// passes here.
class PackageCheck
{
public:
    struct Problem {
        QString entry;     // empty when the package as a whole is refused
        QString reason;
        int clientResult;  // the result code clients answer with
    };

    // packagePath: a whole package (archive and trailer) or a bare archive.
    // contents: its entry list, already read.
    PackageCheck(const QString& packagePath, const PackageContents& contents);

    // A package of this many bytes against the size limit.
    static bool sizeAccepted(qint64 packageSize, QList<Problem>* problems);

    // The entries, as clients check and unpack them. False when a client
    // would refuse the package; the problems say why.
    bool contentsAccepted(QList<Problem>* problems);

    // Notes that do not make clients refuse the package (for example a
    // package without files, or one too large to unpack here on trial).
    QStringList notes() const;

private:
    QString m_packagePath;
    const PackageContents& m_contents;
    QStringList m_notes;
};

#endif
