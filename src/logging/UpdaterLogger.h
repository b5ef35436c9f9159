#ifndef UPDATERLOGGER_H
#define UPDATERLOGGER_H

#include "ZTXLogger.h"

// The module's main logger, category "updater", writing updater.log.
class UpdaterLogger : public ZTXLogger
{
public:
    explicit UpdaterLogger(const std::string& name);

    ~UpdaterLogger() override;

    // The process-wide instance, created on first use.
    static UpdaterLogger& instance();
    // Writes its waiting lines to the file, if it has been created.
    static void flushIfCreated();
};

#endif
