#include "ModuleToolsLogger.h"

ModuleToolsLogger::ModuleToolsLogger(const std::string& name)
    : ZTXLogger(name, false)
{
}

ModuleToolsLogger& ModuleToolsLogger::instance()
{
    static ModuleToolsLogger logger("moduleTools");
    return logger;
}
