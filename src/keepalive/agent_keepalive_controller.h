#pragma once

#include "common/app_logger.h"
#include "keepalive/keepalive_clock.h"
#include "platform/power_assertions.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace perchwell {

class ClosedLidSleepBlocker;
class LidSwitchGuardian;
class SettingsStore;

// Keeps the machine from sleeping on its own while Claude Code works: agent activity
// and the manual "Vuve Vurer" start take two power assertions and hold them for a hold
// window after the latest activity (never less than 300 s). Publishes its state into
// the settings store and drives the closed-lid blocker. Main thread only.
class AgentKeepaliveController : public QObject {
    Q_OBJECT
public:
    static constexpr double minimumHoldSeconds = 300;
    static constexpr double maximumHoldSeconds = 365.0 * 24 * 3600;

    AgentKeepaliveController(SettingsStore& store, std::shared_ptr<PowerAssertions> assertions,
                             std::shared_ptr<LidSwitchGuardian> guardian, KeepaliveClock clock = systemNow,
                             QObject* parent = nullptr);
    ~AgentKeepaliveController() override;

    // Every ingested user prompt ("user") or assistant turn ("assistant").
    void recordActivity(const std::string& sessionId, const std::string& source);
    // "Vuve Vurer": switches the feature on if needed and holds as if activity had just been seen.
    void startManual();
    // The stop command and the application's exit.
    void stop() { release("stop"); }
    // Any of the feature switch, the hold window or the closed-lid mode changed.
    void settingsChanged();
    // The release timer's action: releases once the hold window is over, else re-arms.
    void releaseIfExpired();

    bool holding() const { return !assertions_.empty(); }
    size_t heldCount() const { return assertions_.size(); }
    std::optional<QDateTime> releaseAt() const { return releaseAt_; }
    // Milliseconds until the release timer fires; nothing while none is armed.
    std::optional<int> releaseTimerInterval() const;
    // Why power assertions cannot be taken on this system; null while they can (or
    // nothing has been tried yet).
    QString unavailableReason() const { return unavailableReason_; }
    // Created on first use.
    ClosedLidSleepBlocker& closedLidSleepBlocker();

signals:
    void unavailableReasonChanged(const QString& reason);

private:
    // Now plus the hold window.
    QDateTime windowEnd() const;
    void holdAwake(const QString& reason, const std::string& assertionName, const std::string& source);
    bool acquire(const std::string& reason, const std::string& source);
    void release(const std::string& reason);
    void scheduleReleaseTimer();
    void clearPublishedHold();
    void setUnavailableReason(const QString& reason);
    // A failure is worth a warning the first time it is seen; repeats go to debug.
    void logFailure(AssertionKind kind, const std::string& line, const std::string& result);

    SettingsStore& store_;
    std::shared_ptr<PowerAssertions> power_;
    std::shared_ptr<LidSwitchGuardian> guardian_;
    KeepaliveClock clock_;
    AppLogger log_{"workflow.keepalive"};
    std::unique_ptr<ClosedLidSleepBlocker> blocker_;
    std::map<AssertionKind, AssertionId> assertions_;
    std::optional<QDateTime> releaseAt_;
    std::unique_ptr<QTimer> releaseTimer_;
    QString unavailableReason_;
    std::map<AssertionKind, std::string> lastFailure_;
};

} // namespace perchwell
