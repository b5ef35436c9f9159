#ifndef LOG_H
#define LOG_H

#include <QByteArray>
#include <QString>
#include <ostream>

#include <log4cpp/CategoryStream.hh>
#include <log4cpp/Priority.hh>

#include "ModuleToolsLogger.h"
#include "UpdaterLogger.h"

// QString values go into the log as Latin-1.
inline std::ostream& operator<<(std::ostream& stream, const QString& text)
{
    return stream << text.toLatin1().constData();
}

// Log statements: LOG_UPDATER(INFO) << "Class::method :: text" << value;
#define LOG_UPDATER(priority) UpdaterLogger::instance().category.getStream(log4cpp::Priority::priority)
#define LOG_MODULETOOLS(priority) ModuleToolsLogger::instance().category.getStream(log4cpp::Priority::priority)

#endif
