#include "common/file_util.h"
#include "common/system_log.h"
#include "hooks/hook_command.h"
#include "platform/paths.h"

#include <atomic>
#include <ctime>

namespace perchwell {
namespace {

std::atomic<bool> logReported{false};

void reportLogFailure(const std::string& message) {
    if (logReported.exchange(true)) {
        return;
    }
    systemlog::write("[Perchwell hook] hook-events.log unavailable — Dashboard counts will be incomplete: " +
                     message);
}

std::string utcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

} // namespace

std::string HookCommand::hookEventsLogPath() {
    return Paths::dataFile("hook-events.log");
}

void HookCommand::appendLog(std::string_view toolName, std::string_view decision, std::string_view cwd,
                            std::string_view reason) {
    if (auto dir = Paths::ensureDataDirectory(); !dir) {
        reportLogFailure("mkdir failed: " + dir.error().message);
        return;
    }
    std::string line = utcTimestamp();
    for (std::string_view field : {decision, toolName, reason, cwd}) {
        line.push_back('\t');
        line.append(field);
    }
    line.push_back('\n');
    if (auto written = files::appendToFile(hookEventsLogPath(), line, 0600); !written) {
        reportLogFailure("write failed: " + written.error().message);
    }
}

void HookCommand::resetLogReportForTesting() {
    logReported = false;
}

} // namespace perchwell
