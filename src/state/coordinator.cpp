#include "state/coordinator.h"

#include "companion/mascot_controlling.h"
#include "state/settings_store.h"

#include <algorithm>

namespace perchwell {

Coordinator::Coordinator(SettingsStore& store, MascotControlling* mascot, QObject* parent)
    : QObject(parent), store_(store), mascot_(mascot) {
    observeSettings();
}

bool Coordinator::isActive() const {
    return store_.enabled() && suspendCount_ == 0;
}

void Coordinator::start() {
    showState(store_.enabled());
}

void Coordinator::resume() {
    suspendCount_ = std::max(suspendCount_ - 1, 0);
    if (suspendCount_ == 0 && store_.enabled()) {
        showActive();
    }
}

void Coordinator::suspend() {
    ++suspendCount_;
}

void Coordinator::setEnabled(bool enabled) {
    store_.setEnabled(enabled);
    showState(store_.enabled());
}

void Coordinator::observeSettings() {
    // Signals carry only later assignments, so the current value is skipped already;
    // repeats of the last value seen are dropped here.
    lastEnabled_ = store_.enabled();
    connect(&store_, &SettingsStore::enabledChanged, this, [this](bool enabled) {
        if (enabled == lastEnabled_) {
            return;
        }
        lastEnabled_ = enabled;
        showState(enabled);
    });
}

void Coordinator::showState(bool enabled) {
    if (enabled && suspendCount_ == 0) {
        showActive();
        return;
    }
    log_.info("watcher paused");
    if (mascot_ != nullptr) {
        mascot_->set(MascotState::paused());
    }
}

void Coordinator::showActive() {
    log_.info("watcher active (hook + workflow mode)");
    if (mascot_ != nullptr) {
        mascot_->set(MascotState::pacing());
    }
}

} // namespace perchwell
