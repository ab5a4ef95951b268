#include "common/system_log.h"

#include <mutex>
#include <string>
#include <syslog.h>

namespace perchwell::systemlog {
namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

Sink& currentSink() {
    static Sink sink;
    return sink;
}

} // namespace

void write(std::string_view line) {
    {
        std::lock_guard lock(sinkMutex());
        if (const Sink& sink = currentSink()) {
            sink(line);
            return;
        }
    }
    const std::string text(line);
    ::syslog(LOG_NOTICE, "%s", text.c_str());
}

void setSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(sink);
}

} // namespace perchwell::systemlog
