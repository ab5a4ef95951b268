#include "common/system_log.h"
#include "companion/permissions_manager.h"
#include "support/permission_fakes.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::FakeAccessibilityTrust;
using testing::FakeCameraAccess;

class PermissionsManagerTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeAccessibilityTrust> trust = std::make_shared<FakeAccessibilityTrust>();
    std::shared_ptr<FakeCameraAccess> camera = std::make_shared<FakeCameraAccess>();
};

TEST_F(PermissionsManagerTest, OnlyTheAuthorizedCameraStatusCountsAsGranted) {
    const std::pair<CameraAuthorization, bool> cases[] = {{CameraAuthorization::notDetermined, false},
                                                          {CameraAuthorization::restricted, false},
                                                          {CameraAuthorization::denied, false},
                                                          {CameraAuthorization::authorized, true}};
    for (const auto& [status, granted] : cases) {
        camera->current = status;
        PermissionsManager manager(trust, camera);
        EXPECT_EQ(manager.cameraGranted(), granted) << static_cast<int>(status);
    }
}

TEST_F(PermissionsManagerTest, GrantWhileMissingIsNoticedByPollingWhichThenStops) {
    PermissionsManager manager(trust, camera);
    manager.setPollInterval(std::chrono::milliseconds(20));
    QSignalSpy changes(&manager, &PermissionsManager::accessibilityGrantedChanged);
    manager.startMonitoring();
    EXPECT_FALSE(manager.accessibilityGranted());
    EXPECT_TRUE(manager.isPolling());

    trust->trusted = true;
    ASSERT_TRUE(changes.wait(1000));
    EXPECT_TRUE(manager.accessibilityGranted());
    EXPECT_FALSE(manager.isPolling());
    const int checks = trust->checks;
    QTest::qWait(80);
    EXPECT_EQ(trust->checks, checks) << "no polling once granted";
}

TEST_F(PermissionsManagerTest, GrantedAtStartDoesNotPoll) {
    trust->trusted = true;
    PermissionsManager manager(trust, camera);
    manager.startMonitoring();
    EXPECT_TRUE(manager.accessibilityGranted());
    EXPECT_FALSE(manager.isPolling());
}

TEST_F(PermissionsManagerTest, RevocationIsNoticedWhenTheApplicationBecomesActiveAndPollingRestarts) {
    trust->trusted = true;
    PermissionsManager manager(trust, camera);
    manager.startMonitoring();
    manager.startMonitoring(); // a second call must not add a second observer
    QSignalSpy changes(&manager, &PermissionsManager::accessibilityGrantedChanged);

    trust->trusted = false;
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_TRUE(manager.accessibilityGranted()) << "only becoming active refreshes";

    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(manager.accessibilityGranted());
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(manager.isPolling());
}

TEST_F(PermissionsManagerTest, RequestCameraLogsTheStatusAndTheAnswerThenRefreshes) {
    std::vector<std::string> lines;
    systemlog::setSink([&](std::string_view line) { lines.emplace_back(line); });
    PermissionsManager manager(trust, camera);
    QSignalSpy changes(&manager, &PermissionsManager::cameraGrantedChanged);
    camera->current = CameraAuthorization::authorized;
    manager.requestCamera();
    systemlog::setSink({});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[Perchwell] requestCamera called. status before = 3");
    EXPECT_EQ(lines[1], "[Perchwell] requestCamera completion: granted=true");
    ASSERT_TRUE(changes.wait(1000));
    EXPECT_TRUE(manager.cameraGranted());
}

TEST_F(PermissionsManagerTest, OpenSettingsExplainsWhatToDoWhenTheDesktopOffersNothing) {
    PermissionsManager manager(trust, camera);
    QStringList launched;
    bool launcherWorks = false;
    manager.setLauncher([&](const QString& program, const QStringList& arguments) {
        launched << program + " " + arguments.join(' ');
        return launcherWorks;
    });
    const Result<void> camera = manager.openCameraSettings();
    ASSERT_FALSE(camera.ok());
    EXPECT_NE(camera.error().message.find("video"), std::string::npos);
    launcherWorks = true;
    EXPECT_TRUE(manager.openCameraSettings().ok());
    EXPECT_EQ(launched.last(), "gnome-control-center camera");

    const Result<void> keys = manager.openAccessibilitySettings();
    ASSERT_FALSE(keys.ok());
    EXPECT_NE(keys.error().message.find("XTEST"), std::string::npos);
    trust->trusted = true;
    EXPECT_TRUE(manager.openAccessibilitySettings().ok());
}

} // namespace
} // namespace perchwell
