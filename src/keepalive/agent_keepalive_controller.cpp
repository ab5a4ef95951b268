#include "keepalive/agent_keepalive_controller.h"

#include "keepalive/closed_lid_sleep_blocker.h"
#include "state/settings_store.h"

#include <QPointer>
#include <algorithm>
#include <cmath>

namespace perchwell {

AgentKeepaliveController::AgentKeepaliveController(SettingsStore& store,
                                                   std::shared_ptr<PowerAssertions> assertions,
                                                   std::shared_ptr<LidSwitchGuardian> guardian,
                                                   KeepaliveClock clock, QObject* parent)
    : QObject(parent), store_(store), power_(std::move(assertions)), guardian_(std::move(guardian)),
      clock_(std::move(clock)) {}

AgentKeepaliveController::~AgentKeepaliveController() = default;

ClosedLidSleepBlocker& AgentKeepaliveController::closedLidSleepBlocker() {
    if (!blocker_) {
        blocker_ = std::make_unique<ClosedLidSleepBlocker>(store_, guardian_);
    }
    return *blocker_;
}

QDateTime AgentKeepaliveController::windowEnd() const {
    const double stored = store_.agentKeepaliveHoldSeconds();
    // A hand-edited settings file may hold NaN or a huge number: neither may become a
    // hold that never ends or a time that overflows.
    const double seconds =
        std::isnan(stored) ? minimumHoldSeconds : std::clamp(stored, minimumHoldSeconds, maximumHoldSeconds);
    return clock_().addMSecs(static_cast<qint64>(seconds * 1000));
}

void AgentKeepaliveController::recordActivity(const std::string& sessionId, const std::string& source) {
    store_.setAgentKeepaliveLastActivityAt(clock_());
    if (!store_.agentKeepalive()) {
        release("disabled");
        return;
    }
    holdAwake(QStringLiteral("Claude Code activity"), "active Claude Code session " + sessionId.substr(0, 8),
              source);
}

void AgentKeepaliveController::startManual() {
    if (!store_.agentKeepalive()) {
        store_.setAgentKeepalive(true);
    }
    store_.setAgentKeepaliveLastActivityAt(clock_());
    holdAwake(QStringLiteral("Vuve Vurer Mode"), "manual Vuve Vurer Mode", "manual");
}

void AgentKeepaliveController::holdAwake(const QString& reason, const std::string& assertionName,
                                         const std::string& source) {
    releaseAt_ = windowEnd();
    store_.setAgentKeepaliveReleaseAt(*releaseAt_);
    store_.setAgentKeepaliveReason(reason);
    if (assertions_.empty() && !acquire("Perchwell Agent Keepalive: " + assertionName, source)) {
        releaseAt_.reset();
        store_.setAgentKeepaliveActive(false);
        clearPublishedHold();
        return;
    }
    store_.setAgentKeepaliveActive(true);
    if (releaseAt_) {
        closedLidSleepBlocker().extend(*releaseAt_);
    }
    scheduleReleaseTimer();
}

bool AgentKeepaliveController::acquire(const std::string& reason, const std::string& source) {
    std::map<AssertionKind, AssertionId> acquired;
    for (AssertionKind kind : allAssertionKinds) {
        const std::string kindText(rawValue(kind));
        auto created = power_->create(kind, reason);
        if (created) {
            acquired[kind] = *created;
            lastFailure_.erase(kind);
            log_.info("power assertion acquired kind=" + kindText + " id=" + std::to_string(*created) +
                      " source=" + source);
            continue;
        }
        const std::string& result = created.error().message;
        logFailure(kind,
                   "power assertion failed kind=" + kindText + " result=" + result + " source=" + source,
                   result);
        if (kind == AssertionKind::idleSystem) {
            for (const auto& [heldKind, id] : acquired) {
                [[maybe_unused]] auto released = power_->release(id);
            }
            setUnavailableReason(QString::fromStdString(result));
            return false;
        }
    }
    assertions_ = std::move(acquired);
    setUnavailableReason({});
    return true;
}

void AgentKeepaliveController::logFailure(AssertionKind kind, const std::string& line,
                                          const std::string& result) {
    // Without logind every transcript line would fail the same way: say it once.
    auto [previous, fresh] = lastFailure_.try_emplace(kind, result);
    if (fresh || previous->second != result) {
        previous->second = result;
        log_.warning(line);
    } else {
        log_.debug(line);
    }
}

void AgentKeepaliveController::release(const std::string& reason) {
    releaseTimer_.reset();
    releaseAt_.reset();
    store_.setAgentKeepaliveActive(false);
    clearPublishedHold();
    closedLidSleepBlocker().stop();
    if (assertions_.empty()) {
        return;
    }
    const auto taken = std::exchange(assertions_, {});
    for (const auto& [kind, id] : taken) {
        const std::string kindText(rawValue(kind));
        auto released = power_->release(id);
        if (released) {
            log_.info("power assertion released kind=" + kindText + " id=" + std::to_string(id) +
                      " reason=" + reason);
        } else {
            log_.warning("power assertion release failed kind=" + kindText + " id=" + std::to_string(id) +
                         " result=" + released.error().message + " reason=" + reason);
        }
    }
}

void AgentKeepaliveController::clearPublishedHold() {
    store_.setAgentKeepaliveReleaseAt(QDateTime());
    store_.setAgentKeepaliveReason(QString());
}

void AgentKeepaliveController::setUnavailableReason(const QString& reason) {
    if (reason != unavailableReason_) {
        unavailableReason_ = reason;
        emit unavailableReasonChanged(reason);
    }
}

void AgentKeepaliveController::scheduleReleaseTimer() {
    releaseTimer_.reset();
    if (assertions_.empty() || !releaseAt_) {
        return;
    }
    const double remaining = std::max(clock_().msecsTo(*releaseAt_) / 1000.0, 1.0);
    releaseTimer_ = std::make_unique<QTimer>();
    releaseTimer_->setSingleShot(true);
    releaseTimer_->setTimerType(Qt::PreciseTimer);
    // QTimer takes an int of milliseconds: a hold of weeks is re-armed piecewise.
    releaseTimer_->setInterval(static_cast<int>(std::min(remaining * 1000.0, 24.0 * 3600 * 1000)));
    QPointer<AgentKeepaliveController> self(this);
    connect(releaseTimer_.get(), &QTimer::timeout, this, [self] {
        if (self) {
            self->releaseIfExpired();
        }
    });
    releaseTimer_->start();
}

std::optional<int> AgentKeepaliveController::releaseTimerInterval() const {
    if (!releaseTimer_ || !releaseTimer_->isActive()) {
        return std::nullopt;
    }
    return releaseTimer_->interval();
}

void AgentKeepaliveController::releaseIfExpired() {
    if (releaseAt_ && clock_() >= *releaseAt_) {
        release("activity window expired");
    } else {
        scheduleReleaseTimer();
    }
}

void AgentKeepaliveController::settingsChanged() {
    if (!store_.agentKeepalive()) {
        release("settings changed");
    } else if (assertions_.empty()) {
        closedLidSleepBlocker().stop();
    } else {
        releaseAt_ = windowEnd();
        store_.setAgentKeepaliveReleaseAt(*releaseAt_);
        closedLidSleepBlocker().extend(*releaseAt_);
        scheduleReleaseTimer();
    }
}

} // namespace perchwell
