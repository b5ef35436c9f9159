#include "LogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "logging/UpdaterLogger.h"

LogFile::LogFile()
    : LogFile(UpdaterLogger::instance().logFilePath())
{
}

LogFile::LogFile(const QString& path)
    : m_path(path)
{
    mark();
}

QString LogFile::pathFor(const QString& application, const QString& organization)
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QLatin1Char('/') + organization + QLatin1Char('/') + application
           + QStringLiteral("/logs/updater.log");
}

QString LogFile::path() const
{
    return m_path;
}

QString LogFile::newText() const
{
    // This process's own lines may still wait in the logger's memory.
    UpdaterLogger::flushIfCreated();
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // After a roll-over the file is shorter than the mark: read it whole.
    if (file.size() >= m_offset)
        file.seek(m_offset);
    return QString::fromLatin1(file.readAll());
}

QStringList LogFile::newLines() const
{
    return newText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool LogFile::hasNewLine(const QString& text) const
{
    const QStringList lines = newLines();
    for (const QString& line : lines) {
        if (line.contains(text))
            return true;
    }
    return false;
}

void LogFile::mark()
{
    UpdaterLogger::flushIfCreated();
    m_offset = QFileInfo(m_path).size();
}
