#include "BufferedRollingFileAppender.h"

#include <log4cpp/Layout.hh>
#include <log4cpp/Priority.hh>

#include "LogPlatform.h"

namespace {

const std::chrono::seconds LongestWait(1);

} // namespace

BufferedRollingFileAppender::BufferedRollingFileAppender(const std::string& name, const std::string& fileName,
                                                         size_t maxFileSize, unsigned int maxBackupIndex,
                                                         bool append, mode_t mode)
    : log4cpp::RollingFileAppender(name, fileName, maxFileSize, maxBackupIndex, append, mode)
    , m_fileSize(size_t(LogPlatform::fileSize(_fd)))
{
    m_buffer.reserve(BatchSize * 2);
}

BufferedRollingFileAppender::~BufferedRollingFileAppender()
{
    flush();
}

void BufferedRollingFileAppender::flush()
{
    std::lock_guard<std::mutex> locker(m_mutex);
    writeBuffer();
}

void BufferedRollingFileAppender::close()
{
    flush();
    log4cpp::RollingFileAppender::close();
}

bool BufferedRollingFileAppender::reopen()
{
    flush();
    const bool reopened = log4cpp::RollingFileAppender::reopen();
    std::lock_guard<std::mutex> locker(m_mutex);
    m_fileSize = size_t(LogPlatform::fileSize(_fd));
    return reopened;
}

void BufferedRollingFileAppender::_append(const log4cpp::LoggingEvent& event)
{
    const std::string line = _getLayout().format(event);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> locker(m_mutex);
    if (m_buffer.empty())
        m_oldestLine = now;
    m_buffer += line;
    if (event.priority <= log4cpp::Priority::WARN || m_buffer.size() >= BatchSize || now - m_oldestLine >= LongestWait
        || m_fileSize + m_buffer.size() >= _maxFileSize)
        writeBuffer();
}

// With the mutex held.
void BufferedRollingFileAppender::writeBuffer()
{
    if (m_buffer.empty())
        return;
    LogPlatform::appendToFile(_fd, m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    const qint64 size = LogPlatform::fileSize(_fd);
    m_fileSize = size > 0 ? size_t(size) : 0;
    if (m_fileSize >= _maxFileSize) {
        // rollOver() closes and reopens the file through the base class:
        // nothing waits in the buffer by now.
        log4cpp::RollingFileAppender::rollOver();
        m_fileSize = size_t(LogPlatform::fileSize(_fd));
    }
}
