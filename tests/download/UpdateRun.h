#ifndef UPDATERUN_H
#define UPDATERUN_H

#include <QDir>
#include <QTemporaryDir>

#include "installation/InstallationTestTools.h"

// One Update as a host calls it, in a fresh installation folder holding
// oldFiles: the result and what the folder holds afterwards.
struct UpdateRun {
    QByteArray result;
    InstallationTestTools::Tree tree;
    bool updatesFolder = false;

    int code() const { return result.split('|').value(0).toInt(); }
    QByteArray details() const { return result.split('|').value(2); }
};

inline UpdateRun runUpdate(const InstallationTestTools::Tree& oldFiles, const QMap<QByteArray, QByteArray>& request)
{
    UpdateRun run;
    QTemporaryDir dir;
    if (!dir.isValid() || !InstallationTestTools::writeTree(dir.path(), oldFiles))
        return run;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    {
        CDefaultLibrary library;
        run.result = library.Update(request, {});
    }
    QDir::setCurrent(previous);
    run.tree = InstallationTestTools::readTree(dir.path());
    run.updatesFolder = QFileInfo::exists(dir.filePath(QStringLiteral("UPDATES")));
    return run;
}

#endif
