#pragma once

#include "common/app_logger.h"
#include "platform/command_runner.h"
#include "platform/input_automator.h"
#include "platform/linux/ime_guard.h"

#include <memory>

typedef struct _XDisplay Display;

namespace perchwell {

// Keystrokes on X11: the frontmost application from _NET_ACTIVE_WINDOW, its
// _NET_WM_PID and WM_CLASS; secure input when another client holds a keyboard grab;
// typing through libxdo's XTEST path into the window that was in front, and only
// while it still is (XTEST types into whatever has focus). Under Wayland nothing is
// typed.
class X11InputAutomator final : public InputAutomator {
public:
    explicit X11InputAutomator(CommandRunner& runner);
    ~X11InputAutomator() override;

    std::optional<std::string> unavailableReason() override;
    bool secureInputEnabled() override;
    std::optional<FrontmostApplication> frontmostApplication() override;
    std::optional<InputSourceSnapshot> switchToASCIILayout() override;
    void restoreInputSource(const std::optional<InputSourceSnapshot>& snapshot) override;
    bool sendString(const std::string& text, const FrontmostApplication& app) override;
    void sendReturn(const FrontmostApplication& app) override;

private:
    struct Connection;
    Connection* connection();
    unsigned long activeWindow();

    AppLogger log_{"input"};
    ImeGuard imeGuard_;
    std::unique_ptr<Connection> connection_;
};

} // namespace perchwell
