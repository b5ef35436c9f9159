#ifndef MODULETOOLSLOGGER_H
#define MODULETOOLSLOGGER_H

#include "ZTXLogger.h"

// Logger of the signed-file readers, category "moduleTools", without a file
// of its own: its events go wherever the process routes that category.
class ModuleToolsLogger : public ZTXLogger
{
public:
    explicit ModuleToolsLogger(const std::string& name);

    // The process-wide instance, created on first use.
    static ModuleToolsLogger& instance();
};

#endif
