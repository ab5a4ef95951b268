#pragma once

#include "common/app_logger.h"
#include "workflow/jsonl_entry.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace perchwell {

// Follows when each Claude Code session last wrote to its transcript and calls
// `onIdle` once a session has been quiet past the threshold, at most once per ten
// minutes per session; a new user prompt of the session ends that cooldown. The
// continue it had typed comes back as a user prompt too, and must not end it, or a
// quiet session would be pushed on every threshold. Main thread only.
class IdleContinueTracker : public QObject {
    Q_OBJECT

public:
    static constexpr double perSessionCooldown = 600;
    static constexpr std::chrono::milliseconds checkInterval{10000};
    // Seconds since the Unix epoch.
    using Clock = std::function<double()>;

    explicit IdleContinueTracker(double idleThreshold, Clock clock = {}, QObject* parent = nullptr);

    // (Re)arms the check every 10 s.
    void start();
    // One check now (what each tick runs).
    void check();

    void recordUser(const UserEntry& entry);
    // Auto-continue typed `text` into the session: its echo in the transcript is ours.
    void noteTyped(const std::string& sessionId, const std::string& text);
    void recordAssistant(const AssistantEntry& entry);

    double idleThreshold = 60;
    std::function<void(const std::string& sessionId)> onIdle;

    // The working directory of the session's newest entry that carried one.
    std::optional<std::string> lastCwd(const std::string& sessionId) const;
    bool isChecking() const { return checkTimer_.isActive(); }

private:
    void record(const std::string& sessionId, double timestamp, const std::optional<std::string>& cwd);

    AppLogger log_{"workflow.idle"};
    Clock clock_;
    QTimer checkTimer_;
    std::map<std::string, double> lastSeen_;
    std::map<std::string, double> lastFiredAt_;
    std::map<std::string, std::string> lastCwd_;
    struct Typed {
        std::string text;
        double at = 0;
    };
    std::map<std::string, Typed> typed_;
};

} // namespace perchwell
