#pragma once

#include "common/app_logger.h"
#include "companion/mascot_controlling.h"
#include "companion/mascot_placing.h"
#include "companion/patrol_planner.h"
#include "state/home_corner.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

class QPropertyAnimation;

namespace perchwell {

class MascotPanel;
class MascotViewModel;
class SettingsStore;

// Owns the mascot panel: shows and hides it, places it in a corner, patrols the
// screens while the watcher waits, hides itself after a long wait and comes back when
// something happens. Without a tray to click instead it never hides itself. Main
// thread only.
class MascotWindowController : public QObject, public MascotControlling, public MascotPlacing {
    Q_OBJECT
public:
    static constexpr int cornerInset = 16;

    // One screen as the patrol sees it; the first of a list is the main screen.
    struct ScreenArea {
        std::string key;    // the screen's identity, decimal
        QRect visibleFrame; // without panels and docks, top-left based
    };
    using ScreensProvider = std::function<std::vector<ScreenArea>()>;
    // Whether the desktop shows tray icons right now.
    using TrayProbe = std::function<bool()>;

    struct Timings {
        int firstMoveMs = 600;
        int patrolIntervalMs = 45000;
        int animationMs = 550;
    };

    explicit MascotWindowController(SettingsStore& store, QObject* parent = nullptr);
    ~MascotWindowController() override;

    void show() override;
    void hide() override;
    void set(const MascotState& state) override;
    MascotState state() const override;
    void beginExercise() override;

    std::optional<QRect> mainScreenFrame() const override;
    void placePanelCentre(QPoint centre) override;
    void returnToHomeCorner() override;

    std::function<void()> onClick;
    std::function<void()> onExerciseHit;

    double idleAutoHideSeconds() const { return idleAutoHideSeconds_; }
    void setIdleAutoHideSeconds(double seconds) { idleAutoHideSeconds_ = seconds; }
    bool isAutoHidden() const { return autoHidden_; }
    bool isPatrolling() const { return patrolTimer_.isActive() || firstMoveTimer_.isActive(); }
    bool isAutoHideScheduled() const { return idleAutoHideTimer_.isActive(); }
    const std::string& lastPatrolKey() const { return lastPatrolKey_; }
    // Where the panel is, or is heading while it glides.
    QPoint panelTarget() const { return panelTarget_; }

    MascotPanel* panel() const { return panel_; }
    MascotViewModel* viewModel() const { return viewModel_; }

    // Tests shorten the timings and bring their own screens and dice.
    void setTimings(Timings timings);
    void setScreensProvider(ScreensProvider provider) { screens_ = std::move(provider); }
    void setPatrolPlanner(PatrolPlanner planner) { planner_ = std::move(planner); }
    // The default asks Qt (a StatusNotifier host on D-Bus, or an XEmbed tray).
    void setTrayProbe(TrayProbe probe) { trayAvailable_ = std::move(probe); }

    // The panel's rectangle in `corner` of a visible frame, inset from both edges.
    static QRect cornerRect(const QRect& visibleFrame, const QSize& size, HomeCorner corner);

    void patrolTick();

private:
    void observeSettings();
    void startPatrol();
    void stopPatrol();
    void scheduleAutoHideIfEligible();
    void autoHideFired();
    void animatePanel(const QRect& rect, HomeCorner corner);
    void moveToHomeCorner(HomeCorner corner, bool animated);
    void handleClick();
    bool isPatrolState() const;
    void explainMissingTrayOnce();

    SettingsStore& store_;
    MascotViewModel* viewModel_;
    MascotPanel* panel_;
    QTimer patrolTimer_;
    QTimer firstMoveTimer_;
    std::string lastPatrolKey_;
    QTimer idleAutoHideTimer_;
    bool autoHidden_ = false;
    double idleAutoHideSeconds_ = 300;
    bool lastMascotEnabled_;
    HomeCorner lastHomeCorner_;
    Timings timings_;
    ScreensProvider screens_;
    PatrolPlanner planner_;
    TrayProbe trayAvailable_;
    bool trayExplained_ = false;
    AppLogger log_{"mascot"};
    QPointer<QPropertyAnimation> animation_;
    QPoint panelTarget_;
};

} // namespace perchwell
