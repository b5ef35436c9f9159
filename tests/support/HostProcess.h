#ifndef HOSTPROCESS_H
#define HOSTPROCESS_H

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// updater-host run as a separate process on an installation folder, the way
// a host application calls the module: with the library that ships or with
// its test build (fault-injection points), extra environment, and either
// waited for or killed at a moment of the test's choice.
class HostProcess
{
public:
    struct Result {
        bool finished = false; // ended on its own (not killed, not timed out)
        bool killed = false;   // ended by a signal
        int exitCode = -1;
        QByteArray result; // the line the host printed
        QString errors;
    };

    // appName also names the log folder below $XDG_CONFIG_HOME.
    HostProcess(const QString& installDir, const QString& appName);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    void useFaultLibrary(bool use = true);
    void setEnvironment(const QString& name, const QString& value);

    // Runs to the end (or kills it after timeoutMs).
    Result run(const QStringList& arguments, int timeoutMs = 120000);

    // Starts it and returns at once; then kill() and/or finish().
    bool start(const QStringList& arguments);
    void kill();
    bool isRunning();
    // Waits until the process stands still (stopped by a signal, as the
    // test build's "stop" action does), or ends: true when it stopped.
    bool waitUntilStopped(int timeoutMs = 60000);
    Result finish(int timeoutMs = 120000);

    static QString hostProgram();

private:
    QString m_installDir;
    QString m_appName;
    QString m_library;
    QProcessEnvironment m_environment;
    QProcess m_process;
};

#endif
