#include "LineLayout.h"

#include <cstdio>
#include <ctime>

#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/Priority.hh>

#include "LogPlatform.h"

namespace {

struct ThreadReadings
{
    int second = -1;
    char dateTime[32] = {};
    size_t dateTimeLength = 0;
    long long millisecond = -1;
    char processorTime[24] = {};
    size_t processorTimeLength = 0;
};

thread_local ThreadReadings t_readings;

} // namespace

std::string LineLayout::format(const log4cpp::LoggingEvent& event)
{
    ThreadReadings& readings = t_readings;
    const int second = event.timeStamp.getSeconds();
    if (second != readings.second) {
        std::tm local;
        LogPlatform::localTime(std::time_t(second), &local);
        readings.dateTimeLength = std::strftime(readings.dateTime, sizeof readings.dateTime, "%Y-%m-%d %H:%M:%S", &local);
        readings.second = second;
    }
    const int milliseconds = event.timeStamp.getMilliSeconds();
    const long long millisecond = (long long)second * 1000 + milliseconds;
    if (millisecond != readings.millisecond) {
        const int length = std::snprintf(readings.processorTime, sizeof readings.processorTime, "%ld", long(std::clock()));
        readings.processorTimeLength = length > 0 ? size_t(length) : 0;
        readings.millisecond = millisecond;
    }
    // getMilliSeconds() is 0 to 999.
    const char fraction[5] = {'.', char('0' + milliseconds / 100), char('0' + milliseconds / 10 % 10),
                              char('0' + milliseconds % 10), ' '};

    const std::string& priority = log4cpp::Priority::getPriorityName(event.priority);
    std::string line;
    line.reserve(readings.dateTimeLength + readings.processorTimeLength + event.threadName.size() + priority.size()
                 + event.ndc.size() + event.message.size() + 16);
    line.append(readings.dateTime, readings.dateTimeLength);
    line.append(fraction, 5);
    line.append(readings.processorTime, readings.processorTimeLength);
    line += " [";
    line += event.threadName;
    line += "] ";
    line += priority;
    line += ' ';
    line += event.ndc;
    line += " - ";
    line += event.message;
    line += '\n';
    return line;
}
