#pragma once

#include "common/result.h"

#include <functional>
#include <string>

namespace perchwell {

struct DesktopNotification {
    std::string identifier; // fresh for every notification
    std::string title;
    std::string body;
    bool defaultSound = true;
};

// The desktop's notification service: shown at once, no trigger. Main thread only.
class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;
    // Asks for permission to alert with sound where the platform asks; the answer is not used.
    virtual void requestAuthorization() {}
    // `done` runs on the main thread once the service has answered (or failed to).
    using Completion = std::function<void(Result<void>)>;
    virtual void post(const DesktopNotification& notification, Completion done) = 0;
};

} // namespace perchwell
