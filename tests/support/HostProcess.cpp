#include "HostProcess.h"

#include "TestPaths.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

HostProcess::HostProcess(const QString& installDir, const QString& appName)
    : m_installDir(installDir)
    , m_appName(appName)
    , m_library(TestPaths::libraryPath())
    , m_environment(QProcessEnvironment::systemEnvironment())
{
}

HostProcess::~HostProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString HostProcess::hostProgram()
{
    return TestPaths::binaryDir() + QStringLiteral("/bin/updater-host");
}

void HostProcess::useFaultLibrary(bool use)
{
    m_library = use ? TestPaths::faultLibraryPath() : TestPaths::libraryPath();
}

void HostProcess::setEnvironment(const QString& name, const QString& value)
{
    m_environment.insert(name, value);
}

bool HostProcess::start(const QStringList& arguments)
{
    m_process.setProgram(hostProgram());
    m_process.setArguments(QStringList{QStringLiteral("--library"), m_library, QStringLiteral("--dir"), m_installDir,
                                       QStringLiteral("--org-name"), QStringLiteral("UpdaterTests"),
                                       QStringLiteral("--app-name"), m_appName}
                           + arguments);
    m_process.setProcessEnvironment(m_environment);
    m_process.start();
    return m_process.waitForStarted(30000);
}

void HostProcess::kill()
{
    m_process.kill();
}

bool HostProcess::isRunning()
{
    // Without an event loop the process's end is only noticed in a wait.
    m_process.waitForFinished(0);
    return m_process.state() != QProcess::NotRunning;
}

bool HostProcess::waitUntilStopped(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    const QString stat = QStringLiteral("/proc/%1/stat").arg(m_process.processId());
    while (isRunning() && clock.elapsed() < timeoutMs) {
        QFile file(stat);
        if (file.open(QIODevice::ReadOnly)) {
            // "pid (name) state ...": the name may hold spaces and brackets.
            const QByteArray line = file.readAll();
            const int end = line.lastIndexOf(')');
            if (end > 0 && line.mid(end + 2, 1) == "T")
                return true;
        }
        QThread::msleep(2);
    }
    return false;
}

HostProcess::Result HostProcess::finish(int timeoutMs)
{
    Result result;
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        result.errors = QStringLiteral("updater-host did not finish in time");
        return result;
    }
    result.killed = m_process.exitStatus() == QProcess::CrashExit;
    result.finished = !result.killed;
    result.exitCode = m_process.exitCode();
    result.result = m_process.readAllStandardOutput().trimmed();
    result.errors = QString::fromLocal8Bit(m_process.readAllStandardError());
    return result;
}

HostProcess::Result HostProcess::run(const QStringList& arguments, int timeoutMs)
{
    if (!start(arguments)) {
        Result result;
        result.errors = QStringLiteral("updater-host did not start: ") + m_process.errorString();
        return result;
    }
    return finish(timeoutMs);
}
