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
