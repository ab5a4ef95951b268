#include "app/app_delegate.h"
#include "companion/menu_bar_controller.h"
#include "companion/permissions_manager.h"
#include "companion_fixture.h"
#include "permission_fakes.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

TEST(LaunchWiringTest, SettingsWindowOpensOnceOnTheRequestedTabAndIsOnlyRaisedAfterwards) {
    testing::StoreFixture fixture;
    LaunchOptions options;
    options.arguments = {"perchwell", "--uitesting"};
    AppDelegate delegate(options, &fixture.store);
    EXPECT_EQ(delegate.settingsWindow(), nullptr);

    delegate.openSettings(true);
    QWidget* window = delegate.settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Perchwell");
    EXPECT_EQ(window->size(), QSize(540, 620));
    EXPECT_EQ(window->property("firstTab").toString(), "permissions");

    window->close();
    delegate.openSettings(false);
    EXPECT_EQ(delegate.settingsWindow(), window) << "a closed window is shown again, not rebuilt";
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->property("firstTab").toString(), "permissions");
}

TEST(LaunchWiringTest, ButtonShowsThePausedEyeWhenLaunchedPaused) {
    testing::StoreFixture fixture;
    fixture.store.setEnabled(false);
    PermissionsManager permissions(std::make_shared<testing::FakeAccessibilityTrust>(),
                                   std::make_shared<testing::FakeCameraAccess>());
    MenuBarController menuBar(fixture.store, permissions, nullptr);
    menuBar.configureButton();
    menuBar.rebuild();
    EXPECT_EQ(menuBar.buttonSymbol(), "eye.slash");
    EXPECT_EQ(menuBar.item()->toolTip(), "Perchwell");
    EXPECT_EQ(menuBar.currentMenu()->actions().at(0)->text(), "○ Perchwell paused");
}

} // namespace
} // namespace perchwell
