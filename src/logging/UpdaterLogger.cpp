#include "UpdaterLogger.h"

#include <atomic>

namespace {

std::atomic<UpdaterLogger*> g_instance(nullptr);

} // namespace

UpdaterLogger::UpdaterLogger(const std::string& name)
    : ZTXLogger(name, true)
{
    g_instance.store(this);
}

UpdaterLogger::~UpdaterLogger()
{
    g_instance.store(nullptr);
}

UpdaterLogger& UpdaterLogger::instance()
{
    static UpdaterLogger logger("updater");
    return logger;
}

void UpdaterLogger::flushIfCreated()
{
    if (UpdaterLogger* logger = g_instance.load())
        logger->flush();
}
