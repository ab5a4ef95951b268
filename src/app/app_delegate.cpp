#include "app/app_delegate.h"

#include "analytics/trace_parser.h"
#include "api/mcp_restart_pipeline.h"
#include "api/mcp_server.h"
#include "app/launch_agent_manager.h"
#include "assist/auto_continue.h"
#include "assist/idle_continue_tracker.h"
#include "assist/prompt_enhancer.h"
#include "assist/tmux_pane_finder.h"
#include "common/system_log.h"
#include "companion/accessibility_mascot_binding.h"
#include "companion/eye_exercise_controller.h"
#include "companion/gaze_tracker.h"
#include "companion/mascot_controlling.h"
#include "companion/mascot_window_controller.h"
#include "companion/menu_bar_controller.h"
#include "companion/notification_bus.h"
#include "companion/permissions_manager.h"
#include "hooks/hook_settings.h"
#include "hooks/hook_socket_server.h"
#include "hooks/hooks_cli.h"
#include "install/hook_presence_monitor.h"
#include "install/installation_manager.h"
#include "install/qt_installation_ui.h"
#include "keepalive/agent_keepalive_controller.h"
#include "keepalive/run_notifier.h"
#include "platform/command_runner.h"
#include "platform/defaults_domain.h"
#include "platform/linux/freedesktop_notifications.h"
#include "platform/linux/logind_power_assertions.h"
#include "platform/linux/systemctl_runner.h"
#include "platform/linux/systemd_inhibit_guardian.h"
#include "platform/linux/x11_input_automator.h"
#include "platform/paths.h"
#include "state/coordinator.h"
#include "state/settings_store.h"
#include "views/dashboard/dashboard_view.h"
#include "views/settings/settings_view.h"
#include "workflow/workflow_reader.h"
#include "workflow/workflow_store.h"
#include "workflow/workflow_watcher.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <algorithm>
#include <cstdio>

namespace perchwell {

bool LaunchOptions::uiTesting() const {
    return std::find(arguments.begin(), arguments.end(), "--uitesting") != arguments.end();
}

AppDelegate::AppDelegate(LaunchOptions options, SettingsStore* store, QObject* parent)
    : QObject(parent), options_(std::move(options)),
      store_(store != nullptr ? store : &SettingsStore::shared()),
      permissions_(std::make_unique<PermissionsManager>()) {}

AppDelegate::~AppDelegate() {
    // The watcher's callbacks post to this object from the watcher's executor: end it
    // (draining that executor) before anything else here goes away.
    workflowWatcher_.reset();
}

void AppDelegate::applicationDidFinishLaunching() {
    if (!runLaunchGates() || !acquireInstanceLock()) {
        return;
    }
    launched_ = true;
    requestCameraAuthorization();
    buildMascot();
    buildCoordinator();
    startHookServer();
    buildLocalApi();
    observeLocalApiSettings();
    buildEyeBreak();
    buildAgentKeepalive();
    buildRunNotifier();
    observeKeepaliveSettings();
    buildMenuBar();
    openWorkflowStore();
    wireMascotCallbacks();
    showMascot();
    startCoordinator();
    monitorAccessibility();
    watchHookInstallation();
    emit launchFinished();
}

void AppDelegate::applicationWillTerminate() {
    if (!launched_) {
        return;
    }
    launched_ = false;
    if (options_.serviceManager != nullptr) {
        LaunchAgentManager::bootoutForQuit(*options_.serviceManager);
    } else {
        LaunchAgentManager::bootoutForQuit();
    }
    stopHookServer();
    removeAgentKeepaliveCommandObservers();
    releaseAgentKeepalive();
}

// --- Launch gates ---------------------------------------------------------------

bool AppDelegate::runLaunchGates() {
    const bool uiTesting = options_.uiTesting();
    if (!uiTesting && offerInstallation()) {
        return false; // the installed copy starts while this one quits
    }
    installEditMenu();
    if (!uiTesting) {
        const bool handedOver = options_.serviceManager != nullptr
                                    ? LaunchAgentManager::ensureLoaded(*options_.serviceManager)
                                    : LaunchAgentManager::ensureLoaded();
        if (handedOver) {
            systemlog::write("[Perchwell] yielding to launchd-managed instance after bootstrap");
            endLaunch(0);
            return false;
        }
    }
    return true;
}

bool AppDelegate::offerInstallation() {
    const auto locations = InstallationManager::current(options_.arguments);
    if (options_.installationUi == nullptr && options_.headless) {
        if (!InstallationManager::isProperlyInstalled(locations.executableDir)) {
            systemlog::write("[Perchwell] running from " + locations.executableDir +
                             ", outside an install prefix; no display to offer the installation");
        }
        return false;
    }
    QtInstallationUi messageBoxes;
    return InstallationManager::checkAndPromptIfNeeded(
        options_.installationUi != nullptr ? *options_.installationUi : messageBoxes, locations);
}

void AppDelegate::installEditMenu() {
    // Nothing to install: without a global menu bar, Qt's text widgets carry the
    // standard editing shortcuts (undo, redo, cut, copy, paste, select all) themselves.
}

bool AppDelegate::acquireInstanceLock() {
    auto lock = options_.instanceLockPath.empty() ? InstanceLock::acquire()
                                                  : InstanceLock::acquire(options_.instanceLockPath);
    if (lock) {
        instanceLock_.emplace(std::move(*lock));
        return true;
    }
    if (!InstanceLock::heldElsewhere(lock.error())) {
        // An unusable lock file must not keep the application from running.
        systemlog::write("[Perchwell] instance lock unavailable: " + lock.error().message + " — carrying on");
        return true;
    }
    const std::string line = "[Perchwell] " + lock.error().message + " — exiting";
    // Said on the terminal too: whoever started this second copy should see why it left.
    systemlog::write(line);
    std::fprintf(stderr, "%s\n", line.c_str());
    endLaunch(0);
    return false;
}

void AppDelegate::endLaunch(int exitCode) {
    exitCode_ = exitCode;
    QCoreApplication::exit(exitCode);
}

void AppDelegate::watchHookInstallation() {
    hookPresence_ = std::make_unique<HookPresenceMonitor>(HooksCli::fixCommand(Paths::executableDirectory()));
    hookPresence_->start();
}

// --- Launch sequence --------------------------------------------------------------

void AppDelegate::requestCameraAuthorization() {
    // Device nodes carry no "not determined" state, so there is never a request to show.
    systemlog::write(GazeTracker::cameraStatusLine(permissions_->cameraStatus()));
}

void AppDelegate::buildMascot() {
    if (options_.headless) {
        return;
    }
    auto controller = std::make_unique<MascotWindowController>(*store_);
    mascotWindow_ = controller.get();
    mascot_ = std::move(controller);
}

void AppDelegate::buildCoordinator() {
    coordinator_ = std::make_unique<Coordinator>(*store_, mascot_.get());
}

void AppDelegate::startHookServer() {
    HookSocketServer::Options serverOptions;
    // Answers come from the same settings file the hook process reads, re-read per
    // request, so the socket and `perchwell hook` always agree.
    serverOptions.settingsProvider = [path = store_->defaultsPath()] {
        DefaultsDomain defaults(path);
        return HookSettings::fromUserDefaults(defaults);
    };
    hookServer_ = std::make_unique<HookSocketServer>(std::move(serverOptions));
    // A failure is logged by the server; hook processes then decide alone.
    [[maybe_unused]] auto started = hookServer_->start();
}

void AppDelegate::buildLocalApi() {
    // The workflow store is handed over once it is open (setWorkflowStore).
    mcp_ = std::make_unique<MCPServer>(*store_);
    mcp_->setCoordinator(coordinator_.get());
    mcp_->setMascot(mascot_.get());
    if (store_->mcpEnabled()) {
        mcp_->start();
    }
}

void AppDelegate::observeLocalApiSettings() {
    mcpPipelineCancellable_ = std::make_unique<MCPRestartPipeline>(*store_, *mcp_);
}

void AppDelegate::buildEyeBreak() {
    gazeTracker_ = std::make_unique<GazeTracker>();
    eyeExercise_ = std::make_unique<EyeExerciseController>(mascot_.get(), mascotWindow_, coordinator_.get(),
                                                           gazeTracker_.get(), *store_);
}

void AppDelegate::buildAgentKeepalive() {
    auto power =
        options_.powerAssertions ? options_.powerAssertions : std::make_shared<LogindPowerAssertions>();
    auto guardian =
        options_.lidSwitchGuardian ? options_.lidSwitchGuardian : std::make_shared<SystemdInhibitGuardian>();
    agentKeepalive_ =
        std::make_unique<AgentKeepaliveController>(*store_, std::move(power), std::move(guardian));
    installAgentKeepaliveCommandObservers(*agentKeepalive_);
    // Every live record keeps the machine awake; these connections come before any other
    // component's, so the keepalive sees each record first.
    AgentKeepaliveController* keepalive = agentKeepalive_.get();
    connect(this, &AppDelegate::userPromptIngested, keepalive,
            [keepalive](const UserEntry& entry) { keepalive->recordActivity(entry.sessionId, "user"); });
    connect(this, &AppDelegate::assistantIngested, keepalive, [keepalive](const AssistantEntry& entry) {
        keepalive->recordActivity(entry.sessionId, "assistant");
    });
}

void AppDelegate::installAgentKeepaliveCommandObservers(AgentKeepaliveController& keepalive) {
    removeAgentKeepaliveCommandObservers();
    NotificationBus& bus = NotificationBus::shared();
    agentKeepaliveCommandObservers_.push_back(connect(&bus, &NotificationBus::keepaliveStartRequested,
                                                      &keepalive, &AgentKeepaliveController::startManual));
    agentKeepaliveCommandObservers_.push_back(
        connect(&bus, &NotificationBus::keepaliveStopRequested, &keepalive, &AgentKeepaliveController::stop));
}

void AppDelegate::buildRunNotifier() {
    auto notifications =
        options_.notifications ? options_.notifications : std::make_shared<FreedesktopNotifications>();
    runNotifier_ = std::make_unique<RunNotifier>(*store_, std::move(notifications));
    runNotifier_->start();
}

void AppDelegate::observeKeepaliveSettings() {
    // The signals carry later assignments only, so the current values are skipped.
    AgentKeepaliveController* keepalive = agentKeepalive_.get();
    connect(store_, &SettingsStore::agentKeepaliveChanged, keepalive,
            &AgentKeepaliveController::settingsChanged);
    connect(store_, &SettingsStore::agentKeepaliveHoldSecondsChanged, keepalive,
            &AgentKeepaliveController::settingsChanged);
    connect(store_, &SettingsStore::agentKeepaliveClosedLidModeChanged, keepalive,
            &AgentKeepaliveController::settingsChanged);
}

void AppDelegate::buildMenuBar() {
    if (options_.headless) {
        return;
    }
    menuBar_ = std::make_unique<MenuBarController>(*store_, *permissions_, coordinator_.get());
    QPointer<AppDelegate> self(this);
    menuBar_->onOpenSettings = [self] {
        if (self) {
            self->openSettings(false);
        }
    };
    menuBar_->onOpenDashboard = [self] {
        if (self) {
            self->openDashboard();
        }
    };
    QPointer<EyeExerciseController> eyeExercise(eyeExercise_.get());
    menuBar_->onStartEyeExercise = [eyeExercise] {
        if (eyeExercise) {
            eyeExercise->start();
        }
    };
    menuBar_->onQuit = [] { QCoreApplication::quit(); };
    if (mcp_) {
        QPointer<MCPServer> server(mcp_.get());
        menuBar_->setLocalApi([server]() -> std::optional<LocalApiStatus> {
            if (!server) {
                return std::nullopt;
            }
            return LocalApiStatus{server->isListening(), server->lastError()};
        });
        connect(mcp_.get(), &MCPServer::isListeningChanged, menuBar_.get(),
                &MenuBarController::scheduleRebuild);
        connect(mcp_.get(), &MCPServer::lastErrorChanged, menuBar_.get(),
                &MenuBarController::scheduleRebuild);
    }
    if (agentKeepalive_) {
        QPointer<AgentKeepaliveController> keepalive(agentKeepalive_.get());
        menuBar_->setKeepaliveAvailability(
            [keepalive] { return keepalive ? keepalive->unavailableReason() : QString(); });
        connect(agentKeepalive_.get(), &AgentKeepaliveController::unavailableReasonChanged, menuBar_.get(),
                &MenuBarController::scheduleRebuild);
    }
    menuBar_->configureButton();
    menuBar_->rebuild();
    menuBar_->observeForMenuRebuild();
}

void AppDelegate::openWorkflowStore() {
    auto opened = WorkflowStore::open();
    if (!opened) {
        systemlog::write("[Perchwell] WorkflowStore init failed: " + opened.error().message +
                         " — dashboard will be unavailable");
        return;
    }
    workflowStore_ = std::move(*opened);
    // The local API sees the store from the moment it is open.
    if (mcp_) {
        mcp_->setWorkflowStore(workflowStore_.get());
    }
    workflowReader_ = std::make_unique<WorkflowReader>();
    workflowWatcher_ = std::make_unique<WorkflowWatcher>(*workflowStore_, *workflowReader_);
    buildIdleTracker();
    buildPromptEnhancer();
    startWorkflowWatcher();
}

void AppDelegate::buildIdleTracker() {
    // The automator types only with a display; the session's tmux pane needs none.
    commandRunner_ = std::make_unique<SpawnCommandRunner>();
    tmuxPanes_ = std::make_unique<TmuxPaneFinder>(*commandRunner_);
    if (!options_.headless) {
        automator_ = std::make_unique<X11InputAutomator>(*commandRunner_);
    }
    QPointer<PermissionsManager> permissions(permissions_.get());
    autoContinue_ = std::make_unique<AutoContinue>(
        *store_, automator_.get(),
        [permissions] { return permissions && permissions->accessibilityGranted(); }, tmuxPanes_.get());
    idleTracker_ = std::make_unique<IdleContinueTracker>(store_->autoContinueIdleSeconds());
    QPointer<AppDelegate> self(this);
    idleTracker_->onIdle = [self](const std::string& sessionId) {
        if (self) {
            self->injectContinueIfPossible(sessionId);
        }
    };
    idleTracker_->start();
    // Repeats change nothing, so they need no filter.
    connect(store_, &SettingsStore::autoContinueIdleSecondsChanged, idleTracker_.get(),
            [tracker = idleTracker_.get()](double seconds) { tracker->idleThreshold = seconds; });
    connect(this, &AppDelegate::userPromptIngested, idleTracker_.get(), &IdleContinueTracker::recordUser);
    connect(this, &AppDelegate::assistantIngested, idleTracker_.get(), &IdleContinueTracker::recordAssistant);
    connect(autoContinue_.get(), &AutoContinue::continueTyped, idleTracker_.get(),
            &IdleContinueTracker::noteTyped);
}

void AppDelegate::buildPromptEnhancer() {
    // Fed only from the transcript watcher, after the idle tracker.
    promptEnhancer_ = std::make_unique<PromptEnhancer>(*store_, mascot_.get());
    connect(this, &AppDelegate::userPromptIngested, promptEnhancer_.get(), &PromptEnhancer::consider);
}

void AppDelegate::injectContinueIfPossible(const std::string& sessionId) {
    if (autoContinue_ && idleTracker_) {
        autoContinue_->injectContinueIfPossible(sessionId, idleTracker_->lastCwd(sessionId));
    }
}

void AppDelegate::startWorkflowWatcher() {
    // The callbacks run on the watcher's executor; each record is moved to the main
    // thread, where the keepalive and the idle tracker take it (they connect to the
    // two signals).
    workflowWatcher_->onUserPromptIngested = [this](const UserEntry& entry) {
        QMetaObject::invokeMethod(
            this, [this, entry] { emit userPromptIngested(entry); }, Qt::QueuedConnection);
    };
    workflowWatcher_->onAssistantIngested = [this](const AssistantEntry& entry) {
        QMetaObject::invokeMethod(
            this, [this, entry] { emit assistantIngested(entry); }, Qt::QueuedConnection);
    };
    // Not awaited: the back-fill runs on the watcher's executor while the launch goes on.
    [[maybe_unused]] auto started = workflowWatcher_->start();
}

void AppDelegate::wireMascotCallbacks() {
    if (!mascotWindow_) {
        return;
    }
    QPointer<MenuBarController> menuBar(menuBar_.get());
    mascotWindow_->onClick = [menuBar] {
        if (!menuBar) {
            return;
        }
        QMenu* menu = menuBar->buildMenu();
        // Released once closed; an action it triggers has run by then.
        QObject::connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
        menu->popup(QCursor::pos());
    };
    QPointer<EyeExerciseController> eyeExercise(eyeExercise_.get());
    mascotWindow_->onExerciseHit = [eyeExercise] {
        if (eyeExercise) {
            eyeExercise->registerHit();
        }
    };
}

void AppDelegate::showMascot() {
    if (mascot_) {
        mascot_->show();
    }
}

void AppDelegate::startCoordinator() {
    // Runs after the launch sequence has returned, so the state it shows replaces any
    // mascot state set by the later steps.
    QPointer<Coordinator> coordinator(coordinator_.get());
    QMetaObject::invokeMethod(
        this,
        [coordinator] {
            if (coordinator) {
                coordinator->start();
            }
        },
        Qt::QueuedConnection);
}

void AppDelegate::monitorAccessibility() {
    if (options_.headless || !mascot_) {
        return;
    }
    permissions_->startMonitoring();
    permissionsBinding_ = std::make_unique<AccessibilityMascotBinding>(*permissions_, *mascot_);
    if (!permissions_->accessibilityGranted()) {
        // No desktop asks the user to grant keystrokes: say why once, then show where.
        systemlog::write("[Perchwell] keystrokes cannot be posted in this session (no X11 XTEST); "
                         "Auto Continue stays off");
        permissions_->refresh();
        openSettings(true);
    }
}

void AppDelegate::openSettings(bool focusPermissions) {
    if (settingsWindow_) {
        // Reopening keeps the tab the user left it on.
        static_cast<SettingsView&>(*settingsWindow_).present();
        return;
    }
    SettingsActions actions = SettingsActions::system();
    actions.installAndRelaunch = [this] {
        QtInstallationUi messageBoxes;
        if (InstallationManager::checkAndPromptIfNeeded(messageBoxes,
                                                        InstallationManager::current(options_.arguments))) {
            QCoreApplication::quit(); // the installed copy takes over
        }
    };
    auto view =
        std::make_unique<SettingsView>(*store_, *permissions_, mcp_.get(),
                                       focusPermissions ? SettingsTab::permissions : SettingsTab::general,
                                       std::move(actions), hookPresence_.get());
    view->present();
    settingsWindow_ = std::move(view);
}

void AppDelegate::openDashboard() {
    if (dashboardWindow_) {
        dashboardWindow_->show();
        dashboardWindow_->raise();
        dashboardWindow_->activateWindow();
        return;
    }
    if (!workflowStore_) {
        systemlog::write("[Perchwell] openDashboard: workflowStore is nil — refusing to open empty window");
        return;
    }
    dashboardWindow_ = std::make_unique<DashboardView>(*workflowStore_, store_, TraceParser::defaultRoot());
    DashboardView* window = dashboardWindow_.get();
    connect(this, &AppDelegate::userPromptIngested, window, &DashboardView::storeChanged);
    connect(this, &AppDelegate::assistantIngested, window, &DashboardView::storeChanged);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        window->move(screen->availableGeometry().center() - window->rect().center());
    }
    window->show();
    window->raise();
    window->activateWindow();
}

// --- Teardown ---------------------------------------------------------------------

void AppDelegate::stopHookServer() {
    if (hookServer_) {
        hookServer_->stop();
        hookServer_.reset();
    }
}

void AppDelegate::removeAgentKeepaliveCommandObservers() {
    for (const auto& observer : agentKeepaliveCommandObservers_) {
        disconnect(observer);
    }
    agentKeepaliveCommandObservers_.clear();
}

void AppDelegate::releaseAgentKeepalive() {
    if (agentKeepalive_) {
        // Releases every inhibitor and clears the closed-lid deadline.
        agentKeepalive_->stop();
        agentKeepalive_.reset();
    }
}

} // namespace perchwell
