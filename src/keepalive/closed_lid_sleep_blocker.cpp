#include "keepalive/closed_lid_sleep_blocker.h"

#include "common/file_util.h"
#include "keepalive/guardian_shell.h"
#include "platform/lid_switch_guardian.h"
#include "platform/paths.h"
#include "state/settings_store.h"

#include <cerrno>
#include <unistd.h>

namespace perchwell {

ClosedLidSleepBlocker::ClosedLidSleepBlocker(SettingsStore& store,
                                             std::shared_ptr<LidSwitchGuardian> guardian, QObject* parent)
    : QObject(parent), store_(store), guardian_(std::move(guardian)) {}

ClosedLidSleepBlocker::~ClosedLidSleepBlocker() = default;

std::string ClosedLidSleepBlocker::deadlinePath() {
    return Paths::dataFile("closedlid-until");
}

std::string ClosedLidSleepBlocker::deadlineText(const std::optional<QDateTime>& until) {
    const qint64 seconds = until ? std::max<qint64>(until->toSecsSinceEpoch(), 0) : 0;
    return std::to_string(seconds) + "\n";
}

Result<void> ClosedLidSleepBlocker::writeDeadline(const std::optional<QDateTime>& until) {
    return files::writeFileAtomically(deadlinePath(), deadlineText(until));
}

void ClosedLidSleepBlocker::extend(const QDateTime& until) {
    if (!store_.agentKeepaliveClosedLidMode()) {
        stop();
        return;
    }
    auto written = Paths::ensureDataDirectory();
    if (written) {
        deadlineCleared_ = false;
        written = writeDeadline(until);
    }
    if (!written) {
        const std::string& description = written.error().message;
        store_.setAgentKeepaliveClosedLidActive(false);
        store_.setAgentKeepaliveClosedLidError(QStringLiteral("Could not arm Closed-Lid Mode: ") +
                                               QString::fromStdString(description));
        log_.error("failed to write closed-lid deadline: " + description);
        return;
    }
    if (guardianRunning_) {
        store_.setAgentKeepaliveClosedLidActive(true);
        store_.setAgentKeepaliveClosedLidError(QString());
        return;
    }
    store_.setAgentKeepaliveClosedLidActive(false);
    if (!arming()) {
        store_.setAgentKeepaliveClosedLidError(QString());
        startGuardian();
    }
}

void ClosedLidSleepBlocker::stop() {
    ++generation_;
    // The arming thread cannot be interrupted; its answer is ignored instead, and a
    // guardian it starts late finds the cleared deadline and exits at once.
    startTask_ = nullptr;
    // With the mode off every transcript line comes here: one synced write of "0" is
    // enough until a deadline is written again.
    if (!deadlineCleared_) {
        deadlineCleared_ = writeDeadline(std::nullopt).ok();
    }
    stopWatchingGuardian();
    guardianRunning_ = false;
    store_.setAgentKeepaliveClosedLidActive(false);
}

void ClosedLidSleepBlocker::startGuardian() {
    const int generation = generation_;
    auto outcome = std::make_shared<GuardianOutcome>();
    QThread* task = QThread::create(
        [guardian = guardian_, script = lidGuardianLoop(deadlinePath(), checkSeconds), outcome] {
            *outcome = guardian ? guardian->arm(script)
                                : GuardianOutcome{false, "no closed-lid guardian on this system", {}};
        });
    connect(task, &QThread::finished, task, &QObject::deleteLater);
    connect(task, &QThread::finished, this, [this, generation, outcome] {
        if (generation != generation_) {
            return;
        }
        startTask_ = nullptr;
        guardianRunning_ = outcome->ok;
        if (outcome->ok) {
            store_.setAgentKeepaliveClosedLidError(QString());
            log_.info("closed-lid guardian armed");
            watchGuardianEnd(std::move(outcome->endWatch));
        } else {
            store_.setAgentKeepaliveClosedLidActive(false);
            store_.setAgentKeepaliveClosedLidError(
                QStringLiteral("Closed-Lid Mode needs administrator approval. ") +
                QString::fromStdString(outcome->message));
            log_.warning("closed-lid guardian failed: " + outcome->message);
        }
        emit armingFinished(outcome->ok);
    });
    startTask_ = task;
    task->start();
}

void ClosedLidSleepBlocker::watchGuardianEnd(UniqueFd endWatch) {
    stopWatchingGuardian();
    if (!endWatch.valid()) {
        return;
    }
    guardianEnd_ = std::move(endWatch);
    guardianEndNotifier_ = std::make_unique<QSocketNotifier>(guardianEnd_.get(), QSocketNotifier::Read);
    connect(guardianEndNotifier_.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[256];
        const ssize_t n = ::read(guardianEnd_.get(), buffer, sizeof buffer);
        if (n > 0 || (n < 0 && errno == EINTR)) {
            return;
        }
        stopWatchingGuardian();
        guardianRunning_ = false;
        store_.setAgentKeepaliveClosedLidActive(false);
        log_.info("closed-lid guardian ended");
    });
}

void ClosedLidSleepBlocker::stopWatchingGuardian() {
    // The notifier lets go first (it must never watch a closed descriptor) and is deleted
    // later, since this may run inside its own signal.
    if (guardianEndNotifier_) {
        guardianEndNotifier_->setEnabled(false);
        guardianEndNotifier_.release()->deleteLater();
    }
    guardianEnd_.reset();
}

} // namespace perchwell
