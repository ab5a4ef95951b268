#pragma once

#include <optional>
#include <string>

namespace perchwell {

// The application in front: its process and what identifies it (a bundle identifier
// on macOS, the window's WM_CLASS class on X11, with its instance name beside it).
struct FrontmostApplication {
    int pid = 0;
    std::string bundleIdentifier;
    std::string instanceName;
    unsigned long window = 0; // the platform's window handle, 0 when it has none
};

// The input source that was current before the IME guard switched away from it.
struct InputSourceSnapshot {
    std::string framework; // which input method framework switched ("ibus", "fcitx5")
    std::string id;        // the source to select again, or "unknown"
};

// Types text into another application as if from the keyboard, with the IME guard
// around it. Main thread only. Backends: X11 with libxdo; a recording test double.
class InputAutomator {
public:
    virtual ~InputAutomator() = default;

    // Why keystrokes cannot be posted in this session at all (for example under
    // Wayland), in words; nothing when they can.
    virtual std::optional<std::string> unavailableReason() = 0;
    // Another client holds the keyboard (a password prompt, a terminal's secure
    // keyboard): nothing may be typed.
    virtual bool secureInputEnabled() = 0;
    virtual std::optional<FrontmostApplication> frontmostApplication() = 0;

    // Switches to a plain keyboard layout when an input method engine is active;
    // the snapshot to restore, only when it really switched.
    virtual std::optional<InputSourceSnapshot> switchToASCIILayout() = 0;
    virtual void restoreInputSource(const std::optional<InputSourceSnapshot>& snapshot) = 0;

    // Types `text` into `app`'s window; an empty text types nothing. False when
    // nothing was typed (the window is gone or no longer in front).
    virtual bool sendString(const std::string& text, const FrontmostApplication& app) = 0;
    virtual void sendReturn(const FrontmostApplication& app) = 0;
};

} // namespace perchwell
