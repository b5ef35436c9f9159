// bench_old_files [--files N] [--dir FOLDER]
//
// The clean-up after an installation on a large installation tree: the
// module's search for "*.old"/"*.OLD" files and their deletion, beside
// find(1) doing the same on the same tree, in the same run. Also at a tenth
// of the size, to show that the cost grows linearly with the number of files.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "controller/CDefaultLibraryTestAccess.h"

namespace {

const int FilesPerFolder = 100;
const int OldEvery = 100; // one file in a hundred is an old one

// N files in folders of 100, two levels deep; returns the number of old files.
int buildTree(const QString& root, int files, bool oldOnly = false)
{
    int oldFiles = 0;
    for (int i = 0; i < files; ++i) {
        const int folder = i / FilesPerFolder;
        const QString dir = QStringLiteral("%1/d%2/e%3").arg(root).arg(folder / 100).arg(folder % 100);
        if (i % FilesPerFolder == 0 && !oldOnly)
            QDir().mkpath(dir);
        const bool old = i % OldEvery == 0;
        if (oldOnly && !old)
            continue;
        const QString name = old ? QStringLiteral("/f%1.dll.123.%2").arg(i).arg((i / OldEvery) % 2 ? "old" : "OLD")
                                 : QStringLiteral("/f%1.dll").arg(i);
        QFile file(dir + name);
        if (file.open(QIODevice::WriteOnly))
            file.write("x");
        oldFiles += old ? 1 : 0;
    }
    return oldFiles;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double runFind(const QString& root, bool remove, int* found)
{
    QStringList arguments = {QStringLiteral("."), QStringLiteral("("), QStringLiteral("-name"), QStringLiteral("*.old"),
                             QStringLiteral("-o"), QStringLiteral("-name"), QStringLiteral("*.OLD"), QStringLiteral(")")};
    arguments << (remove ? QStringLiteral("-delete") : QStringLiteral("-print"));
    QProcess find;
    find.setWorkingDirectory(root);
    QElapsedTimer timer;
    timer.start();
    find.start(QStringLiteral("find"), arguments);
    find.waitForFinished(-1);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (found)
        *found = find.readAllStandardOutput().count('\n');
    return ms;
}

void measure(const QString& base, int files, QTextStream& out)
{
    const QString root = QStringLiteral("%1/tree-%2").arg(base).arg(files);
    const int oldFiles = buildTree(root, files);
    QDir::setCurrent(root);
    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);

    runFind(root, false, nullptr); // warm the caches
    std::vector<double> ours;
    std::vector<double> theirs;
    int foundByUs = 0;
    int foundByFind = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        foundByUs = access.createListOfOldFilesInDirectoryRecursive(QDir::current()).size();
        ours.push_back(timer.nsecsElapsed() / 1e6);
        theirs.push_back(runFind(root, false, &foundByFind));
    }
    out << QStringLiteral("listing, %1 files (%2 old): updater %3 ms, find %4 ms, ratio %5; found %6 / %7\n")
               .arg(files)
               .arg(oldFiles)
               .arg(median(ours), 0, 'f', 1)
               .arg(median(theirs), 0, 'f', 1)
               .arg(median(ours) / median(theirs), 0, 'f', 2)
               .arg(foundByUs)
               .arg(foundByFind);

    std::vector<double> oursDelete;
    std::vector<double> theirsDelete;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        access.tryRemoveAllOldFiles();
        oursDelete.push_back(timer.nsecsElapsed() / 1e6);
        buildTree(root, files, true);
        theirsDelete.push_back(runFind(root, true, nullptr));
        buildTree(root, files, true);
    }
    out << QStringLiteral("clean-up, %1 files: updater %2 ms, find -delete %3 ms, ratio %4; per file %5 us\n")
               .arg(files)
               .arg(median(oursDelete), 0, 'f', 1)
               .arg(median(theirsDelete), 0, 'f', 1)
               .arg(median(oursDelete) / median(theirsDelete), 0, 'f', 2)
               .arg(median(oursDelete) * 1000.0 / files, 0, 'f', 3);
    out.flush();
    QDir::setCurrent(base);
    QDir(root).removeRecursively();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterBench"));
    QCoreApplication::setApplicationName(QStringLiteral("bench_old_files"));
    int files = 100000;
    QString dir;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--files"))
            files = arguments.at(++i).toInt();
        else if (arguments.at(i) == QLatin1String("--dir"))
            dir = arguments.at(++i);
    }
    QTemporaryDir temporary(dir.isEmpty() ? QDir::tempPath() + QStringLiteral("/bench_old_files-XXXXXX")
                                          : dir + QStringLiteral("/bench_old_files-XXXXXX"));
    if (!temporary.isValid() || files < 10) {
        std::fprintf(stderr, "bench_old_files: cannot set up\n");
        return 1;
    }
    QTextStream out(stdout);
    measure(temporary.path(), files / 10, out);
    measure(temporary.path(), files, out);
    return 0;
}
