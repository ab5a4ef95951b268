#pragma once

#include "common/app_logger.h"
#include "common/result.h"
#include "common/unique_fd.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <memory>
#include <optional>
#include <string>

namespace perchwell {

class LidSwitchGuardian;
class SettingsStore;

// "Closed-Lid Mode": while the keepalive holds and the mode is on, closing the lid must
// not suspend the machine. The application only writes a deadline file; a guardian
// process of its own keeps the lid switch inhibited while that deadline lies ahead, so
// a crashed application leaves nothing armed once its last deadline passes. Main
// thread only; the arming itself waits off the main thread.
class ClosedLidSleepBlocker : public QObject {
    Q_OBJECT
public:
    // How often the guardian looks at the deadline.
    static constexpr int checkSeconds = 5;

    ClosedLidSleepBlocker(SettingsStore& store, std::shared_ptr<LidSwitchGuardian> guardian,
                          QObject* parent = nullptr);
    ~ClosedLidSleepBlocker() override;

    // Moves the deadline to `until` and arms the guardian when none runs yet; with the
    // mode off the same as stop().
    void extend(const QDateTime& until);
    // Clears the deadline (the guardian sees it within one check and exits) and forgets
    // any arming in progress.
    void stop();

    bool guardianRunning() const { return guardianRunning_; }
    bool arming() const { return !startTask_.isNull(); }
    int generation() const { return generation_; }
    // "closedlid-until" in the data directory.
    static std::string deadlinePath();
    // "<whole seconds since the epoch>\n"; "0\n" means none.
    static std::string deadlineText(const std::optional<QDateTime>& until);

signals:
    // An arming's answer has been taken in (not emitted for an outdated one).
    void armingFinished(bool ok);

private:
    Result<void> writeDeadline(const std::optional<QDateTime>& until);
    void startGuardian();
    void watchGuardianEnd(UniqueFd endWatch);
    void stopWatchingGuardian();

    SettingsStore& store_;
    std::shared_ptr<LidSwitchGuardian> guardian_;
    AppLogger log_{"workflow.closedlid"};
    bool guardianRunning_ = false;
    QPointer<QThread> startTask_;
    int generation_ = 0;
    bool deadlineCleared_ = false; // "0" written, and nothing since
    // The running guardian's end: once it has gone (its deadline passed while we slept,
    // or it was killed), the next extend arms a new one instead of claiming an old one.
    UniqueFd guardianEnd_;
    std::unique_ptr<QSocketNotifier> guardianEndNotifier_;
};

} // namespace perchwell
