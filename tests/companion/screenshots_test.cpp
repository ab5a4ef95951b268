// Renders the mascot in each state to PNG files under the build folder, so that a
// reader can look at them. It checks only that something was drawn.
#include "companion/mascot_view.h"
#include "companion/mascot_view_model.h"
#include "companion/menu_bar_controller.h"
#include "companion/permissions_manager.h"
#include "state/coordinator.h"
#include "support/permission_fakes.h"
#include "support/store_fixture.h"

#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

constexpr int scale = 3;

QString screenshotDir() {
    const QString dir = QStringLiteral(PERCHWELL_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

// A wallpaper-like backdrop: the panel is translucent, so it is judged on one.
void paintBackdrop(QPainter& painter, const QRect& rect) {
    QLinearGradient wallpaper(rect.topLeft(), rect.bottomRight());
    wallpaper.setColorAt(0, QColor(0x3A, 0x6F, 0x9E));
    wallpaper.setColorAt(1, QColor(0xC9, 0xD8, 0xE6));
    painter.fillRect(rect, wallpaper);
}

QImage render(MascotView& view) {
    QImage image(view.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(scale, scale);
    view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

struct Shot {
    const char* name;
    MascotState state;
    double time;
};

TEST(ScreenshotsTest, RendersEveryStateAndASheet) {
    const Shot shots[] = {
        {"needsPermission", MascotState::needsPermission(PermissionKind::accessibility), 0.7},
        {"exercising", MascotState::exercising("Look at the top-left corner · 1 of 4"), 0.9},
        {"suggestion",
         MascotState::suggestion("Refactor the parser into small functions and add tests for each "
                                 "edge case before touching the store"),
         0.4},
        {"paused", MascotState::paused(), 4.5},
        {"pacing", MascotState::pacing(), 0.6},
        {"happy", MascotState::happy(), 0.3},
    };
    const int rowHeight = (MascotView::panelHeight + 16) * scale;
    QImage sheet(2 * (MascotView::panelWidth + 24) * scale, 3 * rowHeight,
                 QImage::Format_ARGB32_Premultiplied);
    QPainter sheetPainter(&sheet);
    paintBackdrop(sheetPainter, sheet.rect());

    int index = 0;
    for (const Shot& shot : shots) {
        MascotViewModel model;
        MascotView view(&model);
        view.setTrailing(false);
        model.setState(shot.state);
        // Paused: let the drowsy yawn pass so the owl is asleep with its Zs.
        view.setAnimationTime(shot.time);

        const QImage image = render(view);
        int opaque = 0;
        for (int y = 0; y < image.height(); y += 4) {
            for (int x = 0; x < image.width(); x += 4) {
                opaque += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
            }
        }
        EXPECT_GT(opaque, 100) << shot.name;
        EXPECT_TRUE(image.save(screenshotDir() + "/mascot-" + shot.name + ".png"));
        const int column = index % 2, row = index / 2;
        sheetPainter.drawImage(
            QPoint((12 + column * (MascotView::panelWidth + 24)) * scale, 8 * scale + row * rowHeight),
            image);
        ++index;
    }
    sheetPainter.end();
    EXPECT_TRUE(sheet.save(screenshotDir() + "/mascot-states.png"));
}

TEST(ScreenshotsTest, RendersTheOpenedMenuAndTheTrayIcons) {
    testing::StoreFixture fixture;
    fixture.store.setMcpEnabled(true);
    fixture.store.setAgentKeepaliveActive(true);
    fixture.store.setAgentKeepaliveReleaseAt(QDateTime::currentDateTime().addSecs(5400));
    PermissionsManager permissions(std::make_shared<testing::FakeAccessibilityTrust>(),
                                   std::make_shared<testing::FakeCameraAccess>());
    testing::RecordingMascot mascot;
    Coordinator coordinator(fixture.store, &mascot);
    MenuBarController menuBar(fixture.store, permissions, &coordinator);
    menuBar.setLocalApi([] { return LocalApiStatus{true, {}}; });

    std::unique_ptr<QMenu> menu(menuBar.buildMenu());
    menu->popup(QPoint(20, 20));
    const QPixmap shot = menu->grab();
    menu->hide();
    EXPECT_GT(shot.width(), 100);
    EXPECT_TRUE(shot.save(screenshotDir() + "/menu.png"));

    for (const char* symbol : {"eye.fill", "eye.slash"}) {
        const QPixmap icon = MenuBarController::symbolIcon(symbol).pixmap(64, 64);
        EXPECT_FALSE(icon.isNull());
        EXPECT_TRUE(icon.save(screenshotDir() + "/tray-" + symbol + ".png"));
    }
}

} // namespace
} // namespace perchwell
