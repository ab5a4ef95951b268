#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace perchwell {

enum class LogLevel { debug, info, warning, error };

// A component's logger: subsystem "com.brisklane.perchwell" and a category of its
// own. Each message goes to syslog at its level and is mirrored on stderr as
// "[pv:<category>][I] <message>". Thread-safe.
class AppLogger {
public:
    static constexpr std::string_view defaultSubsystem = "com.brisklane.perchwell";

    explicit AppLogger(std::string category, std::string subsystem = std::string(defaultSubsystem));

    void debug(std::string_view message) const { log(LogLevel::debug, message); }
    void info(std::string_view message) const { log(LogLevel::info, message); }
    void warning(std::string_view message) const { log(LogLevel::warning, message); }
    void error(std::string_view message) const { log(LogLevel::error, message); }
    void log(LogLevel level, std::string_view message) const;

    const std::string& category() const { return category_; }
    const std::string& subsystem() const { return subsystem_; }

    // "[pv:coord][I] watcher paused"
    static std::string mirroredLine(LogLevel level, std::string_view category, std::string_view message);

    struct Record {
        std::string subsystem;
        std::string category;
        LogLevel level;
        std::string message;
    };
    // Tests capture records here instead of syslog and stderr; an empty sink restores them.
    using Sink = std::function<void(const Record&)>;
    static void setSink(Sink sink);

private:
    std::string category_;
    std::string subsystem_;
};

} // namespace perchwell
