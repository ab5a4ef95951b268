#include "keepalive/run_notifier.h"

#include "common/system_log.h"
#include "platform/desktop_notifications.h"
#include "state/settings_store.h"

#include <QUuid>
#include <algorithm>

namespace perchwell {

RunNotifier::RunNotifier(SettingsStore& store, std::shared_ptr<DesktopNotifications> notifications,
                         KeepaliveClock clock, QObject* parent)
    : QObject(parent), store_(store), notifications_(std::move(notifications)), clock_(std::move(clock)) {}

std::string RunNotifier::body(int minutes) {
    return "Perchwell covered a " + std::to_string(minutes) +
           "-min run while you were away. Come back and check the receipt.";
}

void RunNotifier::start() {
    notifications_->requestAuthorization();
    connect(&store_, &SettingsStore::agentKeepaliveActiveChanged, this, &RunNotifier::handle);
    handle(store_.agentKeepaliveActive());
}

void RunNotifier::handle(bool active) {
    // The store publishes every assignment; only changes count.
    if (lastActive_ == active) {
        return;
    }
    lastActive_ = active;
    if (active) {
        if (!heldSince_) {
            heldSince_ = clock_();
        }
        return;
    }
    if (!heldSince_) {
        return;
    }
    const double elapsed = heldSince_->msecsTo(clock_()) / 1000.0;
    heldSince_.reset();
    if (elapsed >= minHold) {
        notify(std::max(static_cast<int>(elapsed / 60), 1));
    }
}

void RunNotifier::notify(int minutes) {
    DesktopNotification notification;
    notification.identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    notification.title = "Your run wrapped up";
    notification.body = body(minutes);
    notifications_->post(notification, [](Result<void> posted) {
        if (!posted) {
            systemlog::write("[Perchwell] run notification failed: " + posted.error().message);
        }
    });
}

} // namespace perchwell
