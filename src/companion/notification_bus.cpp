#include "companion/notification_bus.h"

namespace perchwell {

NotificationBus& NotificationBus::shared() {
    static NotificationBus* bus = new NotificationBus; // never destroyed: observers may outlive statics
    return *bus;
}

void NotificationBus::post(const QString& name) {
    emit posted(name);
    if (name == agentKeepaliveStartRequested) {
        emit keepaliveStartRequested();
    } else if (name == agentKeepaliveStopRequested) {
        emit keepaliveStopRequested();
    }
}

} // namespace perchwell
