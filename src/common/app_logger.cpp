#include "common/app_logger.h"

#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace perchwell {
namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

AppLogger::Sink& currentSink() {
    static AppLogger::Sink sink;
    return sink;
}

char levelLetter(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return 'D';
    case LogLevel::info:
        return 'I';
    case LogLevel::warning:
        return 'W';
    case LogLevel::error:
        return 'E';
    }
    return 'I';
}

int syslogPriority(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return LOG_DEBUG;
    case LogLevel::info:
        return LOG_INFO;
    case LogLevel::warning:
    case LogLevel::error:
        return LOG_ERR;
    }
    return LOG_INFO;
}

} // namespace

AppLogger::AppLogger(std::string category, std::string subsystem)
    : category_(std::move(category)), subsystem_(std::move(subsystem)) {}

std::string AppLogger::mirroredLine(LogLevel level, std::string_view category, std::string_view message) {
    std::string line = "[pv:";
    line.append(category);
    line += "][";
    line.push_back(levelLetter(level));
    line += "] ";
    line.append(message);
    return line;
}

void AppLogger::log(LogLevel level, std::string_view message) const {
    std::lock_guard lock(sinkMutex());
    if (const Sink& sink = currentSink()) {
        sink(Record{subsystem_, category_, level, std::string(message)});
        return;
    }
    const std::string line = mirroredLine(level, category_, message);
    ::syslog(syslogPriority(level), "%s", line.c_str());
    std::fprintf(stderr, "%s\n", line.c_str());
}

void AppLogger::setSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(sink);
}

} // namespace perchwell
