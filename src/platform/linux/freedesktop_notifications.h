#pragma once

#include "platform/desktop_notifications.h"

namespace perchwell {

// `org.freedesktop.Notifications` on the session bus: `Notify` with the title, the body
// and the "sound-name" hint for the default sound, under a fresh server-side id. There
// is no permission to ask for. Main thread only.
class FreedesktopNotifications final : public DesktopNotifications {
public:
    void post(const DesktopNotification& notification, Completion done) override;

    static constexpr const char* defaultSoundName = "message-new-instant";
};

} // namespace perchwell
