#ifndef SERVERPROCESS_H
#define SERVERPROCESS_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A server from a Debian package (nginx, squid) run by a test as its child,
// in the foreground, with its configuration, logs and data in a temporary
// folder of its own, listening on 127.0.0.1 only. It is killed when the
// object goes.
class ServerProcess
{
public:
    ServerProcess();
    virtual ~ServerProcess();

    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    void stop();
    QString errorString() const { return m_error; }
    QString folder() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    // The text of a file in the folder (a log), empty when there is none.
    QString fileText(const QString& name) const;

    // A loopback port on which nothing listens yet.
    static quint16 freePort();

protected:
    // program: found in /usr/sbin or /usr/bin, else the package named is
    // missing. Waits until the server accepts connections on port.
    bool run(const QString& program, const QString& package, const QStringList& arguments, quint16 port,
             const QString& logName);
    bool writeFile(const QString& name, const QByteArray& content);
    bool fail(const QString& error);

private:
    // Ends with the test: a test that crashes leaves no server running.
    class ChildProcess : public QProcess
    {
    protected:
        void setupChildProcess() override;
    };

    QTemporaryDir m_dir;
    ChildProcess m_process;
    QString m_error;
};

#endif
