// Runs the eye break with the real mascot window on an X server (the test runs under
// xvfb-run) and writes the screen at three stops to PNG files under the build folder,
// so that a reader can look at the sequence.
#include "companion/eye_exercise_controller.h"
#include "companion/mascot_panel.h"
#include "companion/mascot_window_controller.h"
#include "eye_break_fakes.h"
#include "state/coordinator.h"
#include "support/store_fixture.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

// Distinct colours in the panel's rectangle: something was drawn there.
int coloursIn(const QImage& image, const QRect& rect) {
    QSet<QRgb> colours;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); y += 2) {
        for (int x = area.left(); x <= area.right(); x += 2) {
            colours.insert(image.pixel(x, y));
        }
    }
    return static_cast<int>(colours.size());
}

TEST(EyeBreakScreensTest, MascotAtThreeStops) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    }
    testing::StoreFixture fixture;
    fixture.store.setGazeAutoHit(false);
    MascotWindowController mascot(fixture.store);
    Coordinator coordinator(fixture.store, &mascot);
    auto clock = std::make_shared<testing::FakeExerciseClock>();
    EyeExerciseController controller(&mascot, &mascot, &coordinator, nullptr, fixture.store, clock);
    mascot.show();
    controller.start();

    const QString dir = QStringLiteral(PERCHWELL_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const auto stops = EyeExerciseController::generateStops();
    const QRect frame = *mascot.mainScreenFrame();
    int shot = 0;
    for (const std::size_t wanted : {std::size_t{1}, std::size_t{5}, std::size_t{22}}) {
        // Clicks move the run on to the stop wanted.
        while (controller.running() && controller.hits() < static_cast<int>(wanted)) {
            clock->advance(0.5);
            controller.registerHit();
        }
        ASSERT_EQ(controller.hits(), static_cast<int>(wanted));
        ASSERT_EQ(*controller.currentMascotDirection(), stops[wanted].point);
        QTest::qWait(400); // mapped, placed and painted

        const QRect panel = mascot.panel()->geometry();
        EXPECT_EQ(panel.topLeft() + QPoint(panel.width() / 2, panel.height() / 2),
                  EyeExerciseController::stopCentre(frame, stops[wanted].point))
            << "stop " << wanted;
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        ASSERT_FALSE(screen.isNull());
        EXPECT_GT(coloursIn(screen, panel), 8) << "stop " << wanted;
        const QString path =
            QStringLiteral("%1/eye-break-%2-stop-%3.png").arg(dir).arg(++shot).arg(wanted + 1);
        EXPECT_TRUE(screen.save(path));
    }
    EXPECT_EQ(mascot.state().kind, MascotState::Kind::exercising);
    EXPECT_NE(mascot.state().text.find("Look here · "), std::string::npos);
}

} // namespace
} // namespace perchwell
