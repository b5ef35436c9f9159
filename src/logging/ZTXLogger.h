#ifndef ZTXLOGGER_H
#define ZTXLOGGER_H

#include <QString>
#include <string>

#include <log4cpp/Category.hh>

#include "ZTXLoggerInterface.h"

namespace log4cpp {
class Appender;
}

// A log4cpp category with an optional rolling file in the per-user log folder.
// Log statements write through `category.getStream(priority) << ...`; the
// event is emitted when the stream is destroyed.
class ZTXLogger : public ZTXLoggerInterface
{
public:
    ZTXLogger(const std::string& name, bool withFileAppender);
    virtual ~ZTXLogger();

    ZTXLogger(const ZTXLogger&) = delete;
    ZTXLogger& operator=(const ZTXLogger&) = delete;

    // Writes the lines that wait in memory to the file (the end of every
    // call of the module does).
    void flush();

    // The folder that holds (or would hold) this logger's file.
    QString logDirectory() const;
    // Full name of the log file: folder, "/", name + ".log".
    QString logFilePath() const;

    static const unsigned int MaxFileSize = 0x500000;
    static const unsigned int MaxBackupIndex = 10;
    static const char* const PatternLayout;

private:
    void computeLogDirectory();
    void createFileAppender();

    std::string name;
    bool withFileAppender;
    log4cpp::Appender* appender;

public:
    log4cpp::Category& category;

private:
    QString m_logDirectory;
};

#endif
