#ifndef INSTALLATIONTESTTOOLS_H
#define INSTALLATIONTESTTOOLS_H

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDirIterator>
#include <QMap>
#include <QSet>
#include <QVector>
#include <QString>

#include "controller/CDefaultLibraryTestAccess.h"
#include "support/FileTools.h"
#include "support/TestPaths.h"
#include "support/VerificationSupport.h"
#include "support/ZipBuilder.h"

#include <sys/stat.h>

#include <algorithm>

namespace InstallationTestTools {

// Installs a package (no signature needed) into the current directory as
// UpdateFromData installs one: the package handed over in "data", then the
// installation of a verified package.
inline bool installPackage(CDefaultLibrary& library, const QByteArray& package)
{
    const CDefaultLibraryTestAccess access(library);
    return access.writeDataIntoTempFile({{"data", package.toBase64()}}) && access.installPackage();
}

inline int modeBits(const QString& path)
{
    struct stat info;
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

// The entries of the folder "UPDATES" (the unpack folders left behind).
inline QStringList updatesEntries(const QString& installDir)
{
    return QDir(installDir + QStringLiteral("/UPDATES")).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                                   | QDir::NoDotAndDotDot);
}

// Everything below an installation folder but "UPDATES": each file with its
// bytes, each folder as "<folder>", each symbolic link as "<link>" and its
// target. Two trees are equal when nothing was lost, added or changed.
using Tree = QMap<QString, QByteArray>;

inline Tree readTree(const QString& installDir)
{
    Tree tree;
    const QDir root(installDir);
    QDirIterator entries(installDir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QString name = root.relativeFilePath(path);
        if (name == QLatin1String("UPDATES") || name.startsWith(QLatin1String("UPDATES/")))
            continue;
        const QFileInfo info = entries.fileInfo();
        if (info.isSymLink())
            tree.insert(name, "<link>" + QFile::encodeName(info.symLinkTarget()));
        else if (info.isDir())
            tree.insert(name, "<folder>");
        else
            tree.insert(name, FileTools::readFile(path));
    }
    return tree;
}

// Writes the tree's files (and folders) below the folder.
inline bool writeTree(const QString& installDir, const Tree& tree)
{
    for (auto entry = tree.constBegin(); entry != tree.constEnd(); ++entry) {
        const QString path = installDir + QLatin1Char('/') + entry.key();
        if (entry.value() == "<folder>") {
            if (!QDir().mkpath(path))
                return false;
        } else if (!FileTools::writeFile(path, entry.value())) {
            return false;
        }
    }
    return true;
}

// The tree after installing the files over it (the folders they need
// included).
inline Tree installed(Tree tree, const Tree& files)
{
    for (auto file = files.constBegin(); file != files.constEnd(); ++file) {
        tree.insert(file.key(), file.value());
        QString parent = QFileInfo(file.key()).path();
        while (parent != QLatin1String(".")) {
            tree.insert(parent, "<folder>");
            parent = QFileInfo(parent).path();
        }
    }
    return tree;
}

// The first difference between two trees, for a failure message.
inline QString firstDifference(const Tree& actual, const Tree& expected)
{
    for (auto entry = expected.constBegin(); entry != expected.constEnd(); ++entry) {
        if (!actual.contains(entry.key()))
            return QStringLiteral("missing: ") + entry.key();
        if (actual.value(entry.key()) != entry.value())
            return QStringLiteral("changed: ") + entry.key() + QStringLiteral(" holds ")
                   + QString::fromLatin1(actual.value(entry.key()).left(40));
    }
    for (auto entry = actual.constBegin(); entry != actual.constEnd(); ++entry) {
        if (!expected.contains(entry.key()))
            return QStringLiteral("left over: ") + entry.key();
    }
    return QString();
}

// A journal as an installation writes it into "UPDATES": one file, which
// existed before the run or not, and the folder the run created, if any.
inline QByteArray journalJson(const QString& path, bool existed, const QString& createdFolder = QString(),
                              const QString& runStamp = QStringLiteral("1796700000000"))
{
    return "{\"format\":1,\"runStamp\":\"" + runStamp.toUtf8() + "\",\"files\":[{\"path\":\"" + path.toUtf8()
           + "\",\"existed\":" + (existed ? "true" : "false") + "}],\"createdDirectories\":["
           + (createdFolder.isEmpty() ? QByteArray() : '"' + createdFolder.toUtf8() + '"') + "]}";
}

// A zip archive of the files, signed with the project's test key as ztx
// signs packages.
inline QByteArray signedPackage(const Tree& files)
{
    ZipBuilder zip;
    for (auto file = files.constBegin(); file != files.constEnd(); ++file)
        zip.file(file.key(), file.value());
    return VerificationSupport::signedPackage(zip.bytes());
}

// A point of the test build's fault injection, and the time it was passed.
struct TracePoint {
    QString name;
    int hit;
    bool committed; // passed at or after the commit point
};

// The points a complete run of the test build passed, from its trace
// ("<point> <n>" lines of UPDATER_FAULT_TRACE), in the order first met: each
// with its first, (middle,) and last time.
inline QVector<TracePoint> tracePoints(const QByteArray& trace, const QString& commitPoint, bool withMiddle)
{
    QMap<QString, int> counts;
    QStringList order;
    QSet<QString> afterCommit;
    bool committed = false;
    for (const QByteArray& line : trace.split('\n')) {
        const QString name = QString::fromLatin1(line.split(' ').value(0));
        if (name.isEmpty())
            continue;
        if (!counts.contains(name))
            order.append(name);
        ++counts[name];
        committed = committed || name == commitPoint;
        if (committed)
            afterCommit.insert(name + QLatin1Char(' ') + QString::number(counts.value(name)));
    }
    QVector<TracePoint> points;
    for (const QString& name : qAsConst(order)) {
        const int count = counts.value(name);
        QList<int> hits = {1, count};
        if (withMiddle)
            hits.insert(1, (count + 1) / 2);
        hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
        for (int hit : qAsConst(hits))
            points.append({name, hit, afterCommit.contains(name + QLatin1Char(' ') + QString::number(hit))});
    }
    return points;
}

} // namespace InstallationTestTools

#endif
