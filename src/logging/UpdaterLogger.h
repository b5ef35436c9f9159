#ifndef UPDATERLOGGER_H
#define UPDATERLOGGER_H

#include "ZTXLogger.h"

// The module's main logger, category "updater", writing updater.log.
class UpdaterLogger : public ZTXLogger
{
public:
    explicit UpdaterLogger(const std::string& name);

    // The process-wide instance, created on first use.
    static UpdaterLogger& instance();
};

#endif
