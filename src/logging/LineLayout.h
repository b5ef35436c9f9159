#ifndef LINELAYOUT_H
#define LINELAYOUT_H

#include <string>

#include <log4cpp/Layout.hh>

// The module's log line, "%d{%Y-%m-%d %H:%M:%S.%l} %u [%t] %p %x - %m%n" in
// log4cpp's pattern language, built without its pattern machinery: the same
// characters as log4cpp::PatternLayout gives for that pattern, at a fraction
// of the cost (the installation writes several lines per file).
//
// Two readings are shared between lines, per thread: the local date and time
// of a second is formatted once for all its lines, and the processor time
// (%u, clock()) is read once per millisecond of the line's time stamp, so
// that lines stamped with the same millisecond show the same processor time.
// Reading it costs a system call, which took longer than the rest of the line.
class LineLayout : public log4cpp::Layout
{
public:
    std::string format(const log4cpp::LoggingEvent& event) override;
};

#endif
