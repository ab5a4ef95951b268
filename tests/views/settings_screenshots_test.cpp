// Renders every tab of the settings window to PNG files under the build folder, with a
// filled-in store, the keepalive holding and the local API listening, so that a reader
// can look at them. It checks only that each tab was drawn at the window's size.
#include "api/mcp_server.h"
#include "companion/permissions_manager.h"
#include "hooks/hook_installer.h"
#include "support/permission_fakes.h"
#include "support/store_fixture.h"
#include "views/settings/assistant_pane.h"
#include "views/settings/settings_view.h"

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QScrollArea>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

QString screenshotDir() {
    const QString dir = QStringLiteral(PERCHWELL_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

TEST(SettingsScreenshots, EveryTab) {
    testing::StoreFixture fixture;
    SettingsStore& store = fixture.store;
    store.setDangerousKeywords({"delete", "rm -rf", "drop database", "force push"});
    store.setMascotHomeCorner(HomeCorner::bottomRight);
    store.setOllamaEnabled(true);
    store.setOllamaModel("qwen2.5:0.5b");
    store.setPromptEnhancerEnabled(true);
    store.setAutoContinue(true);
    store.setAutoContinueIdleSeconds(90);
    store.setAgentKeepaliveClosedLidMode(true);
    store.setAgentKeepaliveActive(true);
    store.setAgentKeepaliveReason("Vuve Vurer Mode");
    store.setAgentKeepaliveReleaseAt(QDateTime(QDate(2026, 3, 4), QTime(17, 30)));
    store.setMcpEnabled(true);
    store.setMcpPort(freePort());
    ASSERT_TRUE(HookInstaller::install(fixture.home.path() + "/.local/bin").ok());

    auto trust = std::make_shared<testing::FakeAccessibilityTrust>();
    trust->trusted = true;
    PermissionsManager permissions(trust, std::make_shared<testing::FakeCameraAccess>());
    permissions.refresh();
    MCPServer server(store);
    server.start();
    ASSERT_TRUE(server.isListening()) << server.lastError().toStdString();

    SettingsActions actions = SettingsActions::system();
    actions.installAndRelaunch = [] {};
    SettingsView view(store, permissions, &server, SettingsTab::general, actions);
    view.show();
    for (SettingsTab tab : allSettingsTabs) {
        view.showTab(tab);
        QTest::qWait(50); // let the new tab lay itself out at the window's size
        const QImage image = view.grab().toImage();
        EXPECT_EQ(image.size(), QSize(540, 620) * image.devicePixelRatio());
        const QString path = screenshotDir() + "/settings-" + rawValue(tab) + ".png";
        ASSERT_TRUE(image.save(path)) << path.toStdString();
    }

    // The long Agent tab from top to bottom, as one scrolls through it.
    auto* scroll = view.assistant()->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    QWidget* body = scroll->widget();
    body->resize(scroll->viewport()->width(), body->sizeHint().height());
    ASSERT_TRUE(body->grab().toImage().save(screenshotDir() + "/settings-assistant-full.png"));
    server.stop();
}

} // namespace
} // namespace perchwell
