#pragma once

#include "platform/accessibility_trust.h"
#include "platform/camera_access.h"

namespace perchwell::testing {

class FakeAccessibilityTrust : public AccessibilityTrust {
public:
    bool trusted = false;
    int checks = 0;
    bool isTrusted() override {
        ++checks;
        return trusted;
    }
};

class FakeCameraAccess : public CameraAccess {
public:
    CameraAuthorization current = CameraAuthorization::notDetermined;
    CameraAuthorization status() override { return current; }
};

} // namespace perchwell::testing
