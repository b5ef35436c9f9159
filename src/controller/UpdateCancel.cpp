#include "UpdateCancel.h"

#include <atomic>

namespace {

std::atomic<bool> g_cancelRequested(false);
std::atomic<bool> g_callRunning(false);

} // namespace

void UpdateCancel::request()
{
    g_cancelRequested.store(true);
}

bool UpdateCancel::isRequested()
{
    return g_cancelRequested.load();
}

void UpdateCancel::reset()
{
    g_cancelRequested.store(false);
}

UpdateCancel::Running::Running()
    : m_acquired(!g_callRunning.exchange(true))
{
}

UpdateCancel::Running::~Running()
{
    if (m_acquired)
        g_callRunning.store(false);
}
