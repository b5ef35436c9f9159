// installation-test-child FOLDER PACKAGE
//
// Installs the signed package PACKAGE into FOLDER through UpdateFromData and
// prints the result string, then the lines the module logged meanwhile. The
// fault tests run it without root's powers.
//
// installation-test-child --swap-unpack-folders UPDATES TARGET
//
// What another user who can write into UPDATES would do to an installer:
// plants a journal that would remove keep.txt if it were played back, prints
// "planted", then exchanges every unpack folder that appears with a link to
// TARGET, until it is killed.

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "InstallationTestTools.h"
#include "controller/CDefaultLibrary.h"
#include "support/LogFile.h"

namespace {

int swapUnpackFolders(const QByteArray& updates, const QByteArray& target)
{
    QFile journal(QFile::decodeName(updates + "/1796700000000.journal"));
    if (journal.open(QIODevice::WriteOnly))
        journal.write(InstallationTestTools::journalJson(QStringLiteral("keep.txt"), false));
    journal.close();
    const QByteArray link = updates + "/swap";
    ::symlink(target.constData(), link.constData());
    std::printf("planted\n");
    std::fflush(stdout);
    for (;;) {
        if (DIR* dir = ::opendir(updates.constData())) {
            while (const dirent* entry = ::readdir(dir)) {
                const QByteArray name(entry->d_name);
                if (!name.isEmpty() && std::all_of(name.begin(), name.end(), ::isdigit))
                    ::syscall(SYS_renameat2, AT_FDCWD, (updates + '/' + name).constData(), AT_FDCWD,
                              link.constData(), RENAME_EXCHANGE);
            }
            ::closedir(dir);
        }
        ::usleep(500);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--swap-unpack-folders") == 0)
        return swapUnpackFolders(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("installation-test-child"));
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: installation-test-child FOLDER PACKAGE\n");
        return 2;
    }
    QFile package(arguments.at(2));
    if (!package.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read the package\n");
        return 2;
    }
    const QByteArray bytes = package.readAll();
    if (!QDir::setCurrent(arguments.at(1))) {
        std::fprintf(stderr, "cannot enter the folder\n");
        return 2;
    }

    LogFile log;
    QByteArray result;
    {
        CDefaultLibrary library;
        result = library.UpdateFromData({{"data", bytes.toBase64()}}, {});
    }
    std::printf("%s\n%s", result.constData(), log.newText().toLatin1().constData());
    return result.startsWith("0|") ? 0 : 1;
}
