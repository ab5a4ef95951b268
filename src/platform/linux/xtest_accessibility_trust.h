#pragma once

#include "platform/accessibility_trust.h"

namespace perchwell {

// Keystrokes can be posted when the session is X11 and its server offers the XTEST
// extension. A Wayland session cannot type into other applications: not trusted.
class XTestAccessibilityTrust : public AccessibilityTrust {
public:
    bool isTrusted() override;
};

} // namespace perchwell
