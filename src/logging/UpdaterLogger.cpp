#include "UpdaterLogger.h"

UpdaterLogger::UpdaterLogger(const std::string& name)
    : ZTXLogger(name, true)
{
}

UpdaterLogger& UpdaterLogger::instance()
{
    static UpdaterLogger logger("updater");
    return logger;
}
