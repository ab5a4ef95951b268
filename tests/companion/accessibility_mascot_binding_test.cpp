#include "companion/accessibility_mascot_binding.h"
#include "companion/permissions_manager.h"
#include "support/permission_fakes.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

TEST(AccessibilityMascotBindingTest, MissingPermissionShowsAndGrantReturnsOnlyFromNeedsPermission) {
    auto trust = std::make_shared<testing::FakeAccessibilityTrust>();
    PermissionsManager permissions(trust, std::make_shared<testing::FakeCameraAccess>());
    testing::RecordingMascot mascot;

    AccessibilityMascotBinding binding(permissions, mascot);
    ASSERT_EQ(mascot.history.size(), 1u) << "the current value is applied at once";
    EXPECT_EQ(mascot.current, MascotState::needsPermission(PermissionKind::accessibility));

    trust->trusted = true;
    permissions.refresh();
    EXPECT_EQ(mascot.current, MascotState::pacing());

    // Granted again while a suggestion shows: the suggestion stays.
    trust->trusted = false;
    permissions.refresh();
    mascot.set(MascotState::suggestion("try this"));
    trust->trusted = true;
    permissions.refresh();
    EXPECT_EQ(mascot.current, MascotState::suggestion("try this"));
}

TEST(AccessibilityMascotBindingTest, GrantedAtStartLeavesTheMascotAlone) {
    auto trust = std::make_shared<testing::FakeAccessibilityTrust>();
    trust->trusted = true;
    PermissionsManager permissions(trust, std::make_shared<testing::FakeCameraAccess>());
    testing::RecordingMascot mascot;
    mascot.current = MascotState::paused();
    AccessibilityMascotBinding binding(permissions, mascot);
    permissions.refresh();
    EXPECT_TRUE(mascot.history.empty());
}

} // namespace
} // namespace perchwell
