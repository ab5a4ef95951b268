#pragma once

#include "keepalive/keepalive_clock.h"

#include <QDateTime>
#include <QObject>
#include <memory>
#include <optional>
#include <string>

namespace perchwell {

class DesktopNotifications;
class SettingsStore;

// Tells the user when a long agent run is over: follows the published keepalive flag
// and, when a hold of at least five minutes ends, posts how long it lasted. Main thread
// only.
class RunNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr double minHold = 300;

    RunNotifier(SettingsStore& store, std::shared_ptr<DesktopNotifications> notifications,
                KeepaliveClock clock = systemNow, QObject* parent = nullptr);

    // Asks for notification permission, then follows `agentKeepaliveActive` (its current
    // value first).
    void start();

    std::optional<QDateTime> heldSince() const { return heldSince_; }

    static std::string body(int minutes);

private:
    void handle(bool active);
    void notify(int minutes);

    SettingsStore& store_;
    std::shared_ptr<DesktopNotifications> notifications_;
    KeepaliveClock clock_;
    std::optional<bool> lastActive_;
    std::optional<QDateTime> heldSince_;
};

} // namespace perchwell
