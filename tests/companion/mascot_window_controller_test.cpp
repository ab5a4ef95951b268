#include "companion/mascot_panel.h"
#include "companion/mascot_view.h"
#include "companion/mascot_window_controller.h"
#include "support/log_capture.h"
#include "support/store_fixture.h"

#include <QElapsedTimer>
#include <QTest>
#include <deque>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

using Controller = MascotWindowController;

const QRect screenFrame(0, 0, 1920, 1080);

PatrolPlanner::Random repeating(std::deque<size_t> draws) {
    return [draws](size_t bound) mutable {
        const size_t value = draws.front();
        if (draws.size() > 1) {
            draws.pop_front();
        }
        return value % bound;
    };
}

// Timers on a busy machine may run late: wait for the outcome, not for a fixed time.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 2000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

class MascotWindowControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        fixture.store.setMascotHomeCorner(HomeCorner::topRight);
        controller = std::make_unique<Controller>(fixture.store);
        controller->setScreensProvider([] {
            return std::vector<Controller::ScreenArea>{{"1", screenFrame}};
        });
        controller->setTimings({20, 60, 0});
        controller->setTrayProbe([this] { return tray; });
    }

    bool visible() const { return controller->panel()->isVisible(); }

    testing::StoreFixture fixture;
    std::unique_ptr<Controller> controller;
    bool tray = true;
};

TEST(MascotCornerRectTest, InsetsSixteenFromTheCornersEdgesInTopLeftCoordinates) {
    const QRect frame(1920, 24, 1280, 776); // a second screen below a 24-pixel top bar
    const QSize size(280, 64);
    const std::pair<HomeCorner, QPoint> cases[] = {
        {HomeCorner::topLeft, {1936, 40}},
        {HomeCorner::topRight, {1920 + 1280 - 280 - 16, 40}},
        {HomeCorner::bottomLeft, {1936, 24 + 776 - 64 - 16}},
        {HomeCorner::bottomRight, {1920 + 1280 - 280 - 16, 24 + 776 - 64 - 16}},
    };
    for (const auto& [corner, topLeft] : cases) {
        EXPECT_EQ(Controller::cornerRect(frame, size, corner), QRect(topLeft, size)) << rawValue(corner);
    }
}

TEST_F(MascotWindowControllerTest, StartsHiddenAtTheHomeCornerOfTheMainScreen) {
    testing::StoreFixture other;
    other.store.setMascotHomeCorner(HomeCorner::bottomLeft);
    Controller placed(other.store);
    const QRect main = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(placed.panel()->pos(), QPoint(main.left() + 16, main.bottom() + 1 - 64 - 16));
    EXPECT_FALSE(placed.panel()->isVisible());
    EXPECT_FALSE(placed.panel()->view()->isTrailing());
    EXPECT_EQ(placed.state(), MascotState::pacing());
}

TEST_F(MascotWindowControllerTest, ShowPatrolsWithAQuickFirstMoveAndGivesUpOnSixEqualPicks) {
    // The dice always say screen 0, top-left.
    controller->setPatrolPlanner(PatrolPlanner(repeating({0})));
    controller->show();
    EXPECT_TRUE(visible());
    EXPECT_TRUE(controller->isPatrolling());
    EXPECT_TRUE(controller->lastPatrolKey().empty());
    ASSERT_TRUE(waitUntil([&] { return !controller->lastPatrolKey().empty(); }));
    EXPECT_EQ(controller->lastPatrolKey(), "1|topLeft");
    EXPECT_EQ(controller->panel()->pos(), QPoint(16, 16));
    EXPECT_FALSE(controller->panel()->view()->isTrailing());

    // Later ticks repeat the same corner six times and leave the panel where it is.
    controller->panel()->move(500, 500);
    QTest::qWait(100);
    EXPECT_EQ(controller->panel()->pos(), QPoint(500, 500));
}

TEST_F(MascotWindowControllerTest, PatrolNeverRevisitsThePreviousCornerWhenAnotherComesUp) {
    // topLeft, then topLeft again (refused), then bottomRight.
    controller->setPatrolPlanner(PatrolPlanner(repeating({0, 0, 0, 0, 0, 3})));
    controller->patrolTick();
    EXPECT_EQ(controller->lastPatrolKey(), "1|topLeft");
    controller->patrolTick();
    EXPECT_EQ(controller->lastPatrolKey(), "1|bottomRight");
    EXPECT_EQ(controller->panelTarget(), QPoint(1920 - 280 - 16, 1080 - 64 - 16));
    EXPECT_TRUE(controller->panel()->view()->isTrailing());
}

TEST_F(MascotWindowControllerTest, SettingPacingAgainRestartsTheFirstMove) {
    controller->setTimings({60, 10000, 0});
    controller->setPatrolPlanner(PatrolPlanner(repeating({0, 2})));
    controller->show();
    QTest::qWait(35);
    controller->set(MascotState::pacing());
    QTest::qWait(35);
    EXPECT_TRUE(controller->lastPatrolKey().empty()) << "the first move was pushed back";
    ASSERT_TRUE(waitUntil([&] { return !controller->lastPatrolKey().empty(); }));
    EXPECT_EQ(controller->lastPatrolKey(), "1|bottomLeft");
}

TEST_F(MascotWindowControllerTest, OtherStatesStopThePatrolAndOnlyPacingAutoHides) {
    controller->show();
    controller->set(MascotState::suggestion("try this"));
    EXPECT_FALSE(controller->isPatrolling());
    EXPECT_FALSE(controller->isAutoHideScheduled());
    controller->set(MascotState::needsPermission(PermissionKind::accessibility));
    EXPECT_TRUE(controller->isPatrolling());
    EXPECT_FALSE(controller->isAutoHideScheduled());
    controller->set(MascotState::pacing());
    EXPECT_TRUE(controller->isAutoHideScheduled());
}

TEST_F(MascotWindowControllerTest, AutoHidesAfterTheIdleTimeAndComesBackOnTheNextState) {
    EXPECT_DOUBLE_EQ(controller->idleAutoHideSeconds(), 300);
    controller->setIdleAutoHideSeconds(0.05);
    const MascotState comebacks[] = {MascotState::exercising("Look up"), MascotState::suggestion("Add tests"),
                                     MascotState::paused()};
    for (const MascotState& next : comebacks) {
        controller->set(MascotState::pacing());
        controller->show();
        ASSERT_TRUE(visible());
        EXPECT_TRUE(waitUntil([&] { return !visible(); })) << toString(next.kind);
        EXPECT_TRUE(controller->isAutoHidden());
        EXPECT_FALSE(controller->isPatrolling());

        controller->set(next);
        EXPECT_TRUE(visible()) << toString(next.kind);
        EXPECT_FALSE(controller->isAutoHidden());
    }
}

// Without a tray icon the mascot is all there is to click: it must stay.
TEST_F(MascotWindowControllerTest, AutoHidesOnlyWhileATrayIconCanBeClickedInstead) {
    struct Case {
        bool trayAtShow;
        bool trayWhenDue;
        bool hides;
    };
    const Case cases[] = {
        {true, true, true},
        {true, false, false}, // the tray host went away meanwhile
        {false, false, false},
        {false, true, false}, // a tray that turns up later counts from the next state
    };
    controller->setIdleAutoHideSeconds(0.05);
    for (const Case& c : cases) {
        controller->hide();
        tray = c.trayAtShow;
        controller->show();
        EXPECT_EQ(controller->isAutoHideScheduled(), c.trayAtShow);
        tray = c.trayWhenDue;
        if (c.hides) {
            EXPECT_TRUE(waitUntil([&] { return controller->isAutoHidden(); }));
        } else {
            QTest::qWait(120);
            EXPECT_FALSE(controller->isAutoHidden()) << c.trayAtShow << c.trayWhenDue;
        }
        EXPECT_EQ(visible(), !c.hides) << c.trayAtShow << c.trayWhenDue;
        EXPECT_EQ(controller->isPatrolling(), !c.hides) << c.trayAtShow << c.trayWhenDue;
    }
    controller->set(MascotState::pacing());
    EXPECT_TRUE(controller->isAutoHideScheduled());
}

TEST_F(MascotWindowControllerTest, ShowSaysOnceWhyTheMascotStaysWithoutATray) {
    testing::LogCapture logs;
    controller->show();
    EXPECT_TRUE(logs.messages("mascot").empty());
    // The default probe asks Qt, and the offscreen platform the tests run on has no tray.
    Controller noTray(fixture.store);
    noTray.show();
    noTray.show();
    EXPECT_FALSE(noTray.isAutoHideScheduled());
    fixture.store.setMascotEnabled(false);
    Controller turnedOff(fixture.store);
    turnedOff.show();
    EXPECT_EQ(
        logs.messages("mascot"),
        (std::vector<std::string>{
            "no system tray on this desktop: the mascot stays on screen while waiting instead of hiding "
            "after 300 s; click it for the menu",
            "no system tray on this desktop and the mascot is turned off (pv.mascotEnabled): nothing on "
            "screen opens the menu"}));
    EXPECT_EQ(logs.records().back().level, LogLevel::warning);
}

TEST_F(MascotWindowControllerTest, AutoHideWaitsForPacingToLast) {
    controller->setIdleAutoHideSeconds(0.08);
    controller->show();
    QTest::qWait(40);
    controller->set(MascotState::happy());
    QTest::qWait(80);
    EXPECT_TRUE(visible());
    EXPECT_FALSE(controller->isAutoHidden());
}

TEST_F(MascotWindowControllerTest, DisabledMascotStaysHiddenButTheEyeBreakShowsIt) {
    fixture.store.setMascotEnabled(false);
    controller->show();
    EXPECT_FALSE(visible());
    controller->set(MascotState::suggestion("hello"));
    EXPECT_EQ(controller->state(), MascotState::suggestion("hello"));
    EXPECT_FALSE(visible());
    controller->beginExercise();
    EXPECT_TRUE(visible());
    EXPECT_FALSE(controller->isPatrolling());
    EXPECT_FALSE(controller->isAutoHideScheduled());
}

TEST_F(MascotWindowControllerTest, FollowsTheSettingsDroppingRepeats) {
    controller->show();
    fixture.store.setMascotEnabled(false);
    EXPECT_FALSE(visible());
    EXPECT_FALSE(controller->isPatrolling());
    fixture.store.setMascotEnabled(true);
    EXPECT_TRUE(visible());

    controller->hide();
    fixture.store.setMascotEnabled(true); // the same value again: nothing happens
    EXPECT_FALSE(visible());
}

TEST_F(MascotWindowControllerTest, HomeCornerChangeMovesThePanelEvenWhilePatrolling) {
    controller->setPatrolPlanner(PatrolPlanner(repeating({0, 3})));
    controller->show();
    controller->patrolTick();
    ASSERT_EQ(controller->panelTarget(), QPoint(1920 - 296, 1080 - 80));
    fixture.store.setMascotHomeCorner(HomeCorner::topLeft);
    EXPECT_EQ(controller->panelTarget(), QPoint(16, 16));
    EXPECT_EQ(controller->panel()->pos(), QPoint(16, 16));
    EXPECT_FALSE(controller->panel()->view()->isTrailing());
    EXPECT_TRUE(controller->isPatrolling());
}

TEST_F(MascotWindowControllerTest, ClickDuringTheEyeBreakCountsAsAHitNotAClick) {
    int clicks = 0, hits = 0;
    controller->onClick = [&] { ++clicks; };
    controller->onExerciseHit = [&] { ++hits; };
    controller->show();
    MascotView* view = controller->panel()->view();
    QTest::mouseClick(view, Qt::LeftButton, {}, view->owlRect().center());
    controller->set(MascotState::exercising("Look at the owl"));
    QTest::mouseClick(view, Qt::LeftButton, {}, view->owlRect().center());
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(hits, 1);
}

} // namespace
} // namespace perchwell
