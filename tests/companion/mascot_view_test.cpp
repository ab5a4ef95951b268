#include "companion/mascot_panel.h"
#include "companion/mascot_view.h"
#include "companion/mascot_view_model.h"
#include "companion/notification_bus.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

TEST(MascotViewTest, ContentAlignsToTheCornerAndCentresDuringTheEyeBreak) {
    MascotViewModel model;
    MascotView view(&model);
    view.setTrailing(false);
    EXPECT_EQ(view.contentAlignment(), Qt::AlignLeft);
    EXPECT_EQ(view.owlRect().left(), 0);
    view.setTrailing(true);
    EXPECT_EQ(view.contentAlignment(), Qt::AlignRight);
    EXPECT_EQ(view.pillRect().right(), MascotView::panelWidth - 1);

    model.setState(MascotState::exercising("Look up"));
    EXPECT_EQ(view.contentAlignment(), Qt::AlignHCenter);
    const int leftMargin = view.owlRect().left();
    const int rightMargin = MascotView::panelWidth - 1 - view.pillRect().right();
    EXPECT_LE(std::abs(leftMargin - rightMargin), 1);

    // A long suggestion fills the panel but never spills out of it.
    model.setState(MascotState::suggestion(std::string(200, 'x')));
    EXPECT_GE(view.owlRect().left(), 0);
    EXPECT_LE(view.pillRect().right(), MascotView::panelWidth - 1);
}

TEST(MascotViewTest, AnimatesOnlyWhileVisibleAndReportsClicks) {
    MascotViewModel model;
    MascotPanel panel(&model);
    MascotView* view = panel.view();
    EXPECT_EQ(panel.size(), QSize(280, 64));
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(view->isAnimating());
    panel.orderFront();
    EXPECT_TRUE(view->isAnimating());
    QSignalSpy clicks(view, &MascotView::clicked);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(clicks.count(), 1);
    panel.hide();
    EXPECT_FALSE(view->isAnimating());
}

TEST(MascotViewTest, WithoutACompositorThePanelIsCutToOneCapsule) {
    MascotViewModel model;
    MascotPanel panel(&model);
    MascotView* view = panel.view();
    EXPECT_EQ(view->backdropRegion(), QRegion(view->rect()));
    view->setOpaqueBackdrop(true);
    const QRegion shape = view->backdropRegion();
    EXPECT_TRUE(shape.contains(view->owlRect().center()));
    EXPECT_TRUE(shape.contains(view->pillRect().center()));
    EXPECT_FALSE(shape.contains(QPoint(0, 0))) << "rounded ends";
    EXPECT_EQ(panel.mask(), shape);
    // The shape follows the pill when the state changes it.
    model.setState(MascotState::suggestion(std::string(80, 'x')));
    EXPECT_EQ(panel.mask(), view->backdropRegion());
    EXPECT_NE(panel.mask(), shape);
    view->setOpaqueBackdrop(false);
    EXPECT_TRUE(panel.mask().isEmpty());
}

TEST(PetCharacterTest, SleepsWhilePausedExceptWhenYawning) {
    PetCharacter pet([] { return 0.5; });
    pet.advance(0.5);
    EXPECT_FALSE(pet.isSleeping());
    pet.setMood(MascotState::Kind::paused);
    EXPECT_TRUE(pet.isSleeping());
    // Falling asleep brings a yawn within a second or two, and sleep after it.
    bool yawned = false;
    for (double t = 0.5; t < 6; t += 0.05) {
        pet.advance(t);
        yawned = yawned || pet.isYawning();
        EXPECT_EQ(pet.isSleeping(), !pet.isYawning());
    }
    EXPECT_TRUE(yawned);
    pet.setMood(MascotState::Kind::happy);
    EXPECT_FALSE(pet.isSleeping());
}

TEST(PetCharacterTest, BlinksAgainAndAgain) {
    PetCharacter pet([] { return 0.5; });
    int blinkStarts = 0;
    bool wasBlinking = false;
    for (double t = 0; t < 30; t += 0.05) {
        pet.advance(t);
        if (pet.isBlinking() && !wasBlinking) {
            ++blinkStarts;
        }
        wasBlinking = pet.isBlinking();
    }
    EXPECT_GE(blinkStarts, 5);
    EXPECT_LE(blinkStarts, 12);
}

TEST(NotificationBusTest, KeepaliveCommandsHaveTheirOwnSignals) {
    NotificationBus& bus = NotificationBus::shared();
    QSignalSpy any(&bus, &NotificationBus::posted);
    QSignalSpy start(&bus, &NotificationBus::keepaliveStartRequested);
    QSignalSpy stop(&bus, &NotificationBus::keepaliveStopRequested);
    bus.post("PerchwellAgentKeepaliveStartRequested");
    bus.post("PerchwellAgentKeepaliveStopRequested");
    bus.post("Other");
    EXPECT_EQ(any.count(), 3);
    EXPECT_EQ(start.count(), 1);
    EXPECT_EQ(stop.count(), 1);
}

} // namespace
} // namespace perchwell
