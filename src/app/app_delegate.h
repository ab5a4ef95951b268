#pragma once

#include "app/instance_lock.h"
#include "workflow/jsonl_entry.h"

#include <QObject>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace perchwell {

class AccessibilityMascotBinding;
class AgentKeepaliveController;
class DesktopNotifications;
class LidSwitchGuardian;
class PowerAssertions;
class RunNotifier;
class AutoContinue;
class CommandRunner;
class IdleContinueTracker;
class InputAutomator;
class PromptEnhancer;
class TmuxPaneFinder;
class Coordinator;
class DashboardView;
class EyeExerciseController;
class GazeTracker;
class HookPresenceMonitor;
class HookSocketServer;
class InstallationUi;
class MascotControlling;
class MascotWindowController;
class MenuBarController;
class PermissionsManager;
class MCPRestartPipeline;
class MCPServer;
class ServiceManagerRunner;
class SettingsStore;
class WorkflowReader;
class WorkflowStore;
class WorkflowWatcher;

// How this launch was asked to run.
struct LaunchOptions {
    std::vector<std::string> arguments; // the process arguments, executable path first
    // No display: QCoreApplication, no windows, no tray; everything else runs.
    bool headless = false;
    // Runs the service-manager commands of the hand-over; null means `systemctl --user`.
    ServiceManagerRunner* serviceManager = nullptr;
    // The one-instance lock file; empty means the data directory's.
    std::string instanceLockPath;
    // Shows the installation offer and starts the installed copy; null means message
    // boxes on a desktop, and no offer (a log line) when headless.
    InstallationUi* installationUi = nullptr;
    // The keepalive's platform services; null means the system's (logind, systemd-inhibit,
    // the desktop's notification service).
    std::shared_ptr<PowerAssertions> powerAssertions;
    std::shared_ptr<LidSwitchGuardian> lidSwitchGuardian;
    std::shared_ptr<DesktopNotifications> notifications;

    // "--uitesting" anywhere, the executable path included.
    bool uiTesting() const;
};

// Owns every long-lived component of the application and builds them, in order, on
// the main thread once the event loop runs. Each step of the launch sequence is its
// own function below; components that are not part of this build yet leave theirs
// empty. Main thread only.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(LaunchOptions options, SettingsStore* store = nullptr, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The launch gates, then the launch sequence. When a gate ends the launch (hand-over
    // to the managed instance, or another instance holds the lock) it asks the event loop
    // to quit with `exitCode()` and nothing is built.
    void applicationDidFinishLaunching();
    // The teardown, in order. Does nothing when the launch ended at a gate.
    void applicationWillTerminate();

    bool launched() const { return launched_; }
    int exitCode() const { return exitCode_; }
    bool headless() const { return options_.headless; }

    SettingsStore& store() { return *store_; }
    Coordinator* coordinator() const { return coordinator_.get(); }
    MascotControlling* mascot() const { return mascot_.get(); }
    HookSocketServer* hookServer() const { return hookServer_.get(); }
    MenuBarController* menuBar() const { return menuBar_.get(); }
    EyeExerciseController* eyeExercise() const { return eyeExercise_.get(); }
    PermissionsManager& permissions() { return *permissions_; }
    QWidget* settingsWindow() const { return settingsWindow_.get(); }

    // Shows the settings window; a window already open is only brought to the front.
    void openSettings(bool focusPermissions);
    // Shows the "Receipts" window, built once over the workflow store; without a store
    // it logs and opens nothing.
    void openDashboard();
    DashboardView* dashboardWindow() const { return dashboardWindow_.get(); }

    MCPServer* mcp() const { return mcp_.get(); }
    // Null when the store could not be opened.
    WorkflowStore* workflowStore() const { return workflowStore_.get(); }
    WorkflowWatcher* workflowWatcher() const { return workflowWatcher_.get(); }
    // Whether Claude Code's settings hold our hook; null before the launch sequence.
    HookPresenceMonitor* hookPresence() const { return hookPresence_.get(); }
    AgentKeepaliveController* agentKeepalive() const { return agentKeepalive_.get(); }
    RunNotifier* runNotifier() const { return runNotifier_.get(); }

    // Routes the two keepalive commands of the notification bus to `keepalive`,
    // replacing any earlier observers.
    void installAgentKeepaliveCommandObservers(AgentKeepaliveController& keepalive);
    IdleContinueTracker* idleTracker() const { return idleTracker_.get(); }
    PromptEnhancer* promptEnhancer() const { return promptEnhancer_.get(); }

    // Auto Continue's action for a session the idle tracker found quiet.
    void injectContinueIfPossible(const std::string& sessionId);

signals:
    // The launch sequence has run (every step returned).
    void launchFinished();
    // A new record of a live session, delivered on the main thread.
    void userPromptIngested(const perchwell::UserEntry& entry);
    void assistantIngested(const perchwell::AssistantEntry& entry);

private:
    // Launch gates. False: this launch ends here.
    bool runLaunchGates();
    // True when an installed copy has been started and this one quits.
    bool offerInstallation();
    void installEditMenu();
    bool acquireInstanceLock();
    void endLaunch(int exitCode);

    // The launch sequence, in this order.
    void requestCameraAuthorization();
    void buildMascot();
    void buildCoordinator();
    void startHookServer();
    void buildLocalApi();
    void observeLocalApiSettings();
    void buildEyeBreak();
    void buildAgentKeepalive();
    void buildRunNotifier();
    void observeKeepaliveSettings();
    void buildMenuBar();
    void openWorkflowStore();
    void buildIdleTracker();
    void buildPromptEnhancer();
    void startWorkflowWatcher();
    void wireMascotCallbacks();
    void showMascot();
    void startCoordinator();
    void monitorAccessibility();
    void watchHookInstallation();

    // Teardown steps.
    void stopHookServer();
    void removeAgentKeepaliveCommandObservers();
    void releaseAgentKeepalive();

    LaunchOptions options_;
    SettingsStore* store_;
    std::optional<InstanceLock> instanceLock_;
    bool launched_ = false;
    int exitCode_ = 0;

    std::unique_ptr<MascotControlling> mascot_;
    // The same object as `mascot_` on a desktop, for its window-only callbacks.
    MascotWindowController* mascotWindow_ = nullptr;
    std::unique_ptr<PermissionsManager> permissions_;
    std::unique_ptr<AccessibilityMascotBinding> permissionsBinding_;
    std::unique_ptr<MenuBarController> menuBar_;
    std::unique_ptr<QWidget> settingsWindow_;
    std::unique_ptr<Coordinator> coordinator_;
    std::unique_ptr<HookSocketServer> hookServer_;
    std::unique_ptr<HookPresenceMonitor> hookPresence_;
    // In this order: the watcher uses the reader and the store and goes first.
    std::unique_ptr<WorkflowStore> workflowStore_;
    std::unique_ptr<WorkflowReader> workflowReader_;
    std::unique_ptr<WorkflowWatcher> workflowWatcher_;
    // After the store: the local API holds it and is destroyed before it.
    std::unique_ptr<MCPServer> mcp_;
    std::unique_ptr<MCPRestartPipeline> mcpPipelineCancellable_;
    // Last, so destroyed first: the eye break holds the mascot and the coordinator.
    std::unique_ptr<GazeTracker> gazeTracker_;
    std::unique_ptr<EyeExerciseController> eyeExercise_;
    std::unique_ptr<AgentKeepaliveController> agentKeepalive_;
    std::vector<QMetaObject::Connection> agentKeepaliveCommandObservers_;
    std::unique_ptr<RunNotifier> runNotifier_;
    // Auto Continue and prompt suggestions; they use the mascot and the settings.
    std::unique_ptr<CommandRunner> commandRunner_;
    std::unique_ptr<TmuxPaneFinder> tmuxPanes_;
    std::unique_ptr<InputAutomator> automator_;
    std::unique_ptr<AutoContinue> autoContinue_;
    std::unique_ptr<IdleContinueTracker> idleTracker_;
    std::unique_ptr<PromptEnhancer> promptEnhancer_;
    // Last: its models read the store and go before it.
    std::unique_ptr<DashboardView> dashboardWindow_;
};

} // namespace perchwell
