#pragma once

#include "common/app_logger.h"

#include <QObject>

namespace perchwell {

class MascotControlling;
class SettingsStore;

// Decides whether the watcher counts as active or paused and shows it on the mascot.
// Active means `enabled` is on and nothing holds a suspension (the eye break does).
// Pausing touches neither hook decisions nor ingestion. Main thread only.
class Coordinator : public QObject {
    Q_OBJECT

public:
    // `mascot` may be null (headless): the state is then only logged.
    Coordinator(SettingsStore& store, MascotControlling* mascot, QObject* parent = nullptr);

    // Shows the current state.
    void start();
    // Lifts one suspension; back at zero with `enabled` on, shows the active state.
    void resume();
    // Adds one suspension; shows nothing (the caller shows its own state).
    void suspend();
    // Writes `enabled` and shows the current state.
    void setEnabled(bool enabled);

    int suspendCount() const { return suspendCount_; }
    bool isActive() const;

private:
    void observeSettings();
    void showState(bool enabled);
    void showActive();

    SettingsStore& store_;
    MascotControlling* mascot_;
    AppLogger log_{"coord"};
    int suspendCount_ = 0;
    bool lastEnabled_ = true;
};

} // namespace perchwell
