#include "BackgroundRemoval.h"

#include "FileListTools.h"

#include <system_error>

BackgroundRemoval::BackgroundRemoval(const QStringList& paths)
    : m_paths(paths)
{
    if (m_paths.isEmpty())
        return;
    try {
        m_thread = std::thread([this] { removeFiles(m_paths); });
        m_started = true;
    } catch (const std::system_error&) {
    }
}

BackgroundRemoval::~BackgroundRemoval()
{
    wait();
}

void BackgroundRemoval::wait()
{
    if (m_done)
        return;
    m_done = true;
    if (m_started)
        m_thread.join();
    else
        removeFiles(m_paths);
}
