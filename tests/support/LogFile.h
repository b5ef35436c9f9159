#ifndef LOGFILE_H
#define LOGFILE_H

#include <QString>
#include <QStringList>

// Reads the module's log file, to check what a step wrote.
class LogFile
{
public:
    // The file of the updater logger of this process.
    LogFile();
    explicit LogFile(const QString& path);

    // Where the module writes its log in a process of this application
    // name: <config>/<organization>/<application>/logs/updater.log, where
    // <config> is $XDG_CONFIG_HOME, or ~/.config without it. For a host
    // process, or for a test that loads the built library (its own copy of
    // the logger, which LogFile() would start, would write each line twice).
    static QString pathFor(const QString& application,
                           const QString& organization = QStringLiteral("UpdaterTests"));

    QString path() const;
    // Everything written since construction (or the last mark()).
    QString newText() const;
    QStringList newLines() const;
    // Whether a line written since the mark contains all of the texts.
    bool hasNewLine(const QString& text) const;
    void mark();

private:
    QString m_path;
    qint64 m_offset = 0;
};

#endif
