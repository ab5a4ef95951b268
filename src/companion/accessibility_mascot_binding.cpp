#include "companion/accessibility_mascot_binding.h"

#include "companion/mascot_controlling.h"
#include "companion/permissions_manager.h"

namespace perchwell {

AccessibilityMascotBinding::AccessibilityMascotBinding(PermissionsManager& permissions,
                                                       MascotControlling& mascot, QObject* parent)
    : QObject(parent), mascot_(mascot) {
    apply(permissions.accessibilityGranted());
    connect(&permissions, &PermissionsManager::accessibilityGrantedChanged, this,
            &AccessibilityMascotBinding::apply);
}

void AccessibilityMascotBinding::apply(bool granted) {
    if (hasLast_ && granted == last_) {
        return;
    }
    hasLast_ = true;
    last_ = granted;
    if (!granted) {
        mascot_.set(MascotState::needsPermission(PermissionKind::accessibility));
    } else if (mascot_.state().kind == MascotState::Kind::needsPermission) {
        mascot_.set(MascotState::pacing());
    }
}

} // namespace perchwell
