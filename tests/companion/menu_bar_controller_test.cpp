#include "companion/menu_bar_controller.h"
#include "companion/notification_bus.h"
#include "companion/permissions_manager.h"
#include "state/coordinator.h"
#include "support/permission_fakes.h"
#include "support/store_fixture.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

struct Item {
    QString text; // "-" for a separator
    bool enabled = true;
    QKeySequence shortcut = {};
    bool operator==(const Item&) const = default;
};

std::vector<Item> itemsOf(QMenu* menu) {
    std::vector<Item> items;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            items.push_back({"-", true, {}});
        } else {
            items.push_back({action->text(), action->isEnabled(), action->shortcut()});
        }
    }
    return items;
}

void PrintTo(const Item& item, std::ostream* out) {
    *out << '"' << item.text.toStdString() << "\" " << (item.enabled ? "enabled" : "disabled") << ' '
         << item.shortcut.toString().toStdString();
}

QAction* actionNamed(QMenu* menu, const QString& prefix) {
    for (QAction* action : menu->actions()) {
        if (action->text().startsWith(prefix)) {
            return action;
        }
    }
    return nullptr;
}

class MenuBarControllerTest : public ::testing::Test {
protected:
    QString title(int index) {
        std::unique_ptr<QMenu> menu(menuBar.buildMenu());
        return menu->actions().at(index)->text();
    }

    testing::StoreFixture fixture;
    SettingsStore& store = fixture.store;
    std::shared_ptr<testing::FakeAccessibilityTrust> trust =
        std::make_shared<testing::FakeAccessibilityTrust>();
    PermissionsManager permissions{trust, std::make_shared<testing::FakeCameraAccess>()};
    testing::RecordingMascot mascot;
    Coordinator coordinator{store, &mascot};
    MenuBarController menuBar{store, permissions, &coordinator};
};

TEST_F(MenuBarControllerTest, DefaultMenuHasEveryItemInOrder) {
    std::unique_ptr<QMenu> menu(menuBar.buildMenu());
    const std::vector<Item> expected = {
        {"● Perchwell running", false},
        {"Agent Keepalive: waiting for agent activity", false},
        {"Start Vuve Vurer (90m)", true, QKeySequence(Qt::CTRL | Qt::Key_K)},
        {"-"},
        {"Pause Watcher", true, QKeySequence(Qt::CTRL | Qt::Key_P)},
        {"Settings...", true, QKeySequence(Qt::CTRL | Qt::Key_Comma)},
        {"Receipts...", true, QKeySequence(Qt::CTRL | Qt::Key_D)},
        {"-"},
        {"Eye Break (1 min)", true},
        {"-"},
        {"Permissions: needs setup", true},
        {"-"},
        {"Quit Perchwell", true, QKeySequence(Qt::CTRL | Qt::Key_Q)},
    };
    EXPECT_EQ(itemsOf(menu.get()), expected);
}

TEST_F(MenuBarControllerTest, HoldWindowShowsWholeMinutesWithAFiveMinuteFloor) {
    const std::pair<double, QString> cases[] = {{60, "Start Vuve Vurer (5m)"},
                                                {0, "Start Vuve Vurer (5m)"},
                                                {5400, "Start Vuve Vurer (90m)"},
                                                {959, "Start Vuve Vurer (15m)"},
                                                {14400, "Start Vuve Vurer (240m)"}};
    for (const auto& [hold, expected] : cases) {
        store.setAgentKeepaliveHoldSeconds(hold);
        EXPECT_EQ(title(2), expected) << hold;
    }
    store.setAgentKeepaliveActive(true);
    EXPECT_EQ(title(2), "Stop Vuve Vurer");
}

TEST_F(MenuBarControllerTest, KeepaliveTitleCases) {
    const QDateTime release = QDateTime::currentDateTime().addSecs(3600);
    const QDateTime activity = QDateTime::currentDateTime().addSecs(-120);
    const QString untilText = " · until " + MenuBarController::formatTime(release);

    struct Case {
        bool on, active, closedLid;
        QString reason;
        QDateTime releaseAt, lastActivity;
        QString expected;
    } cases[] = {
        {false, true, true, "agent", release, activity, "Agent Keepalive: off"},
        {true, true, false, {}, release, {}, "Agent Keepalive: running" + untilText},
        {true, true, false, "", {}, {}, "Agent Keepalive: running"},
        {true,
         true,
         true,
         "agent activity",
         release,
         {},
         "Agent Keepalive: agent activity · closed-lid armed" + untilText},
        {true, true, true, "manual", {}, {}, "Agent Keepalive: manual · closed-lid armed"},
        {true, false, false, {}, {}, {}, "Agent Keepalive: waiting for agent activity"},
        {true,
         false,
         false,
         {},
         {},
         activity,
         "Agent Keepalive: waiting · last activity " + MenuBarController::formatTime(activity)},
    };
    for (const Case& c : cases) {
        store.setAgentKeepalive(c.on);
        store.setAgentKeepaliveActive(c.active);
        store.setAgentKeepaliveClosedLidActive(c.closedLid);
        store.setAgentKeepaliveReason(c.reason);
        store.setAgentKeepaliveReleaseAt(c.releaseAt);
        store.setAgentKeepaliveLastActivityAt(c.lastActivity);
        EXPECT_EQ(MenuBarController::keepaliveTitle(store), c.expected);
        EXPECT_EQ(title(1), c.expected);
    }
}

TEST_F(MenuBarControllerTest, AKeepaliveWithoutLogindSaysItIsUnavailable) {
    QString reason = "org.freedesktop.DBus.Error.ServiceUnknown: no login1";
    menuBar.setKeepaliveAvailability([&] { return reason; });
    store.setAgentKeepalive(true);
    store.setAgentKeepaliveActive(false);
    store.setAgentKeepaliveLastActivityAt(QDateTime::currentDateTime());
    EXPECT_EQ(title(1), "Agent Keepalive: unavailable");
    // Switched off or holding, the published state says more than the last failure.
    store.setAgentKeepalive(false);
    EXPECT_EQ(title(1), "Agent Keepalive: off");
    store.setAgentKeepalive(true);
    reason.clear();
    EXPECT_NE(title(1), "Agent Keepalive: unavailable");
}

TEST_F(MenuBarControllerTest, LocalApiLineOnlyWhenEnabledAndFromThePublishedValues) {
    std::unique_ptr<QMenu> without(menuBar.buildMenu());
    EXPECT_EQ(actionNamed(without.get(), "MCP / HTTP"), nullptr);

    store.setMcpEnabled(true);
    store.setMcpPort(8123);
    std::optional<LocalApiStatus> server;
    menuBar.setLocalApi([&] { return server; });
    const std::pair<std::optional<LocalApiStatus>, QString> cases[] = {
        {std::nullopt, "MCP / HTTP: port 8123 · starting..."},
        {LocalApiStatus{true, {}}, "MCP / HTTP: port 8123 · running"},
        {LocalApiStatus{true, "old error"}, "MCP / HTTP: port 8123 · running"},
        {LocalApiStatus{false, "Address already in use"}, "MCP / HTTP: failed · Address already in use"},
        {LocalApiStatus{false, {}}, "MCP / HTTP: port 8123 · starting..."},
    };
    for (const auto& [status, expected] : cases) {
        server = status;
        std::unique_ptr<QMenu> menu(menuBar.buildMenu());
        QAction* line = actionNamed(menu.get(), "MCP / HTTP");
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->text(), expected);
        EXPECT_FALSE(line->isEnabled());
        EXPECT_EQ(menu->actions().indexOf(line), 11) << "right after the permissions item";
    }
}

TEST_F(MenuBarControllerTest, PausingShowsAtOnceOnTheIconTheFirstItemAndTheMascot) {
    menuBar.configureButton();
    menuBar.observeForMenuRebuild();
    menuBar.scheduleRebuild();
    QTest::qWait(1);
    QAction* pause = actionNamed(menuBar.currentMenu(), "Pause Watcher");
    ASSERT_NE(pause, nullptr);
    pause->trigger();
    // No event-loop turn in between.
    EXPECT_FALSE(store.enabled());
    EXPECT_EQ(menuBar.buttonSymbol(), "eye.slash");
    EXPECT_EQ(menuBar.currentMenu()->actions().at(0)->text(), "○ Perchwell paused");
    EXPECT_EQ(menuBar.currentMenu()->actions().at(4)->text(), "Resume Watcher");
    EXPECT_EQ(mascot.current, MascotState::paused());

    menuBar.toggleEnabled();
    EXPECT_EQ(menuBar.buttonSymbol(), "eye.fill");
    EXPECT_EQ(mascot.current, MascotState::pacing());

    // While the eye break holds the watcher, resuming from the menu still shows paused.
    menuBar.toggleEnabled();
    coordinator.suspend();
    menuBar.toggleEnabled();
    EXPECT_TRUE(store.enabled());
    EXPECT_EQ(mascot.current, MascotState::paused());
}

TEST_F(MenuBarControllerTest, RebuildsOnceForChangesOfOneTurnOfTheEventLoop) {
    menuBar.configureButton();
    menuBar.observeForMenuRebuild();
    menuBar.scheduleRebuild();
    QTest::qWait(1);
    QPointer<QMenu> first = menuBar.currentMenu();

    store.setAgentKeepaliveActive(true);
    store.setAgentKeepaliveReason("assistant");
    EXPECT_EQ(menuBar.currentMenu(), first.data()) << "rebuilt on the main loop, not inside the setter";
    QTest::qWait(1);
    QMenu* second = menuBar.currentMenu();
    EXPECT_NE(second, first.data());
    EXPECT_EQ(second->actions().at(1)->text(), "Agent Keepalive: assistant");
    QTest::qWait(1);
    EXPECT_EQ(menuBar.currentMenu(), second);
    EXPECT_TRUE(first.isNull()) << "the replaced menu is released";

    trust->trusted = true;
    permissions.refresh();
    QTest::qWait(1);
    EXPECT_EQ(menuBar.currentMenu()->actions().at(10)->text(), "Permissions: ready");

    // The last activity time alone does not rebuild.
    QMenu* third = menuBar.currentMenu();
    store.setAgentKeepaliveLastActivityAt(QDateTime::currentDateTime());
    QTest::qWait(1);
    EXPECT_EQ(menuBar.currentMenu(), third);
}

TEST_F(MenuBarControllerTest, ActionsCallTheirCallbacksAndPostTheKeepaliveCommands) {
    int settings = 0, dashboard = 0, eyeBreak = 0, quits = 0;
    menuBar.onOpenSettings = [&] { ++settings; };
    menuBar.onOpenDashboard = [&] { ++dashboard; };
    menuBar.onStartEyeExercise = [&] { ++eyeBreak; };
    menuBar.onQuit = [&] { ++quits; };
    QSignalSpy posted(&NotificationBus::shared(), &NotificationBus::posted);

    std::unique_ptr<QMenu> menu(menuBar.buildMenu());
    for (const char* prefix :
         {"Settings...", "Permissions: ", "Receipts...", "Eye Break", "Quit Perchwell", "Start Vuve Vurer"}) {
        actionNamed(menu.get(), prefix)->trigger();
    }
    store.setAgentKeepaliveActive(true);
    std::unique_ptr<QMenu> holding(menuBar.buildMenu());
    actionNamed(holding.get(), "Stop Vuve Vurer")->trigger();

    EXPECT_EQ(settings, 2);
    EXPECT_EQ(dashboard, 1);
    EXPECT_EQ(eyeBreak, 1);
    EXPECT_EQ(quits, 1);
    ASSERT_EQ(posted.count(), 2);
    EXPECT_EQ(posted.at(0).at(0).toString(), "PerchwellAgentKeepaliveStartRequested");
    EXPECT_EQ(posted.at(1).at(0).toString(), "PerchwellAgentKeepaliveStopRequested");
}

TEST(MenuBarControllerLaunchTest, ButtonShowsThePausedEyeWhenLaunchedPaused) {
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
