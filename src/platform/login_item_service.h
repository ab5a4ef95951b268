#pragma once

#include "common/result.h"

#include <string_view>

namespace perchwell {

// The login-item states the settings window distinguishes; only `enabled` means the
// application starts at login.
enum class LoginItemStatus { notRegistered, enabled, requiresApproval, notFound };

std::string_view toString(LoginItemStatus status);

// Starting the application at login. The Linux backend is an XDG autostart entry;
// tests use a double.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;
    virtual LoginItemStatus status() const = 0;
    virtual Result<void> registerItem() = 0;
    virtual Result<void> unregisterItem() = 0;
};

} // namespace perchwell
