#include "UnprivilegedProcess.h"

#include <QFile>
#include <QProcess>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace UnprivilegedProcess {

unsigned int nobodyUid()
{
    const passwd* entry = getpwnam("nobody");
    return entry ? entry->pw_uid : 65534;
}

unsigned int nogroupGid()
{
    const group* entry = getgrnam("nogroup");
    return entry ? entry->gr_gid : 65534;
}

bool giveToNobody(const QString& path)
{
    if (geteuid() != 0)
        return true;
    return lchown(QFile::encodeName(path).constData(), nobodyUid(), nogroupGid()) == 0;
}

void start(QProcess& process, const QString& program, const QStringList& arguments)
{
    if (geteuid() == 0) {
        QStringList setprivArguments = {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                        QStringLiteral("--clear-groups"), QStringLiteral("--"), program};
        setprivArguments << arguments;
        process.start(QStringLiteral("setpriv"), setprivArguments);
    } else {
        process.start(program, arguments);
    }
}

UnprivilegedRun run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                    int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    start(process, program, arguments);
    UnprivilegedRun result;
    if (!process.waitForStarted(10000)) {
        result.output = process.errorString();
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.output = QString::fromLocal8Bit(process.readAll()) + QStringLiteral("\n(timed out)");
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

} // namespace UnprivilegedProcess
