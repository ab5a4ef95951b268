#include "assist/idle_continue_tracker.h"

#include "common/utf8.h"

#include <QDateTime>
#include <cmath>

namespace perchwell {

IdleContinueTracker::IdleContinueTracker(double threshold, Clock clock, QObject* parent)
    : QObject(parent), idleThreshold(threshold), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] { return QDateTime::currentMSecsSinceEpoch() / 1000.0; };
    }
    checkTimer_.setInterval(checkInterval);
    connect(&checkTimer_, &QTimer::timeout, this, &IdleContinueTracker::check);
}

void IdleContinueTracker::start() {
    checkTimer_.start();
}

void IdleContinueTracker::record(const std::string& sessionId, double timestamp,
                                 const std::optional<std::string>& cwd) {
    // The entry's own time, not when it was read: a back-log read late is old news.
    lastSeen_[sessionId] = timestamp;
    if (cwd) {
        lastCwd_[sessionId] = *cwd;
    }
}

void IdleContinueTracker::recordUser(const UserEntry& entry) {
    record(entry.sessionId, entry.timestamp, entry.cwd);
    // Claude Code writes the typed line within moments; later, the same words are the user's.
    constexpr double echoWindow = 120;
    if (auto typed = typed_.find(entry.sessionId); typed != typed_.end()) {
        const bool echo =
            utf8::trimWhitespace(entry.content) == typed->second.text && clock_() - typed->second.at <= echoWindow;
        typed_.erase(typed);
        if (echo) {
            return;
        }
    }
    lastFiredAt_.erase(entry.sessionId);
}

void IdleContinueTracker::noteTyped(const std::string& sessionId, const std::string& text) {
    typed_[sessionId] = {std::string(utf8::trimWhitespace(text)), clock_()};
}

void IdleContinueTracker::recordAssistant(const AssistantEntry& entry) {
    record(entry.sessionId, entry.timestamp, entry.cwd);
}

std::optional<std::string> IdleContinueTracker::lastCwd(const std::string& sessionId) const {
    auto it = lastCwd_.find(sessionId);
    return it == lastCwd_.end() ? std::nullopt : std::optional<std::string>(it->second);
}

void IdleContinueTracker::check() {
    const double now = clock_();
    std::vector<std::string> firing;
    for (const auto& [session, seen] : lastSeen_) {
        const double idle = now - seen;
        if (idle < idleThreshold) {
            continue;
        }
        if (auto last = lastFiredAt_.find(session);
            last != lastFiredAt_.end() && now - last->second < perSessionCooldown) {
            continue;
        }
        lastFiredAt_[session] = now;
        log_.info("session " + session.substr(0, 8) + " idle " +
                  std::to_string(static_cast<long long>(std::trunc(idle))) + "s — firing onIdle");
        firing.push_back(session);
    }
    // After the walk: a callback may record entries and change the maps.
    for (const auto& session : firing) {
        if (onIdle) {
            onIdle(session);
        }
    }
}

} // namespace perchwell
