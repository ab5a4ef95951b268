#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>

namespace perchwell {

class MascotControlling;
class PermissionsManager;

// Shows a missing Accessibility permission on the mascot: not granted sets
// `needsPermission(accessibility)`; granted returns a mascot that asked for it to
// `pacing` and leaves any other state alone. The current value is applied at once,
// repeats are dropped. The subscription ends with the object.
class AccessibilityMascotBinding : public QObject {
    Q_OBJECT
public:
    AccessibilityMascotBinding(PermissionsManager& permissions, MascotControlling& mascot,
                               QObject* parent = nullptr);

private:
    void apply(bool granted);

    MascotControlling& mascot_;
    bool hasLast_ = false;
    bool last_ = false;
};

} // namespace perchwell
