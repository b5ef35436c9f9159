#ifndef BUFFEREDROLLINGFILEAPPENDER_H
#define BUFFEREDROLLINGFILEAPPENDER_H

// The standard headers first: log4cpp's configuration for this platform
// defines names that the C library's own headers declare.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include <log4cpp/RollingFileAppender.hh>

// log4cpp's rolling file, with the lines written in batches rather than one
// system call (and a size check) each: an installation logs several lines per
// file, thousands in all.
//
// A line reaches the file at once when it is a WARN, an ERROR or worse; the
// others wait in memory until 16 KiB have gathered, a second has passed
// since the oldest of them, flush() is called (at the end of every call of
// the module) or the appender closes. So a process that is killed loses at
// most the INFO and NOTICE lines of its last second, never a failure's
// line. The file rolls over after the write that brings it to its size
// limit, as log4cpp's own does.
class BufferedRollingFileAppender : public log4cpp::RollingFileAppender
{
public:
    static const size_t BatchSize = 16 * 1024;

    BufferedRollingFileAppender(const std::string& name, const std::string& fileName, size_t maxFileSize,
                                unsigned int maxBackupIndex, bool append, mode_t mode);
    ~BufferedRollingFileAppender() override;

    // Writes what waits in memory.
    void flush();

    void close() override;
    bool reopen() override;

protected:
    void _append(const log4cpp::LoggingEvent& event) override;

private:
    void writeBuffer();

    std::mutex m_mutex;
    std::string m_buffer;
    std::chrono::steady_clock::time_point m_oldestLine;
    // The file's size after our last write (other processes may write to
    // it too: it is looked at again after every batch).
    size_t m_fileSize;
};

#endif
