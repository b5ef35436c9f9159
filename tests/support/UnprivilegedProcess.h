#ifndef UNPRIVILEGEDPROCESS_H
#define UNPRIVILEGEDPROCESS_H

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs a program without root's powers: as user "nobody", group "nogroup",
// with no supplementary groups (through setpriv). When the tests already run
// as an ordinary user the program runs as it is.
struct UnprivilegedRun {
    int exitCode = -1;
    bool finished = false;
    QString output; // standard output and standard error
};

namespace UnprivilegedProcess {

// The numeric ids of nobody/nogroup, for chown.
unsigned int nobodyUid();
unsigned int nogroupGid();
// Makes a path (and nothing below it) owned by nobody:nogroup.
bool giveToNobody(const QString& path);

// Starts the program as nobody in the process, which the caller waits for.
void start(QProcess& process, const QString& program, const QStringList& arguments);

UnprivilegedRun run(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                    int timeoutMs = 60000);

} // namespace UnprivilegedProcess

#endif
