#pragma once

namespace perchwell {

// Whether the application may post keystrokes into other applications' windows
// (what Auto Continue needs). Backends: XTEST on X11; a test double.
class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;
    virtual bool isTrusted() = 0;
};

} // namespace perchwell
