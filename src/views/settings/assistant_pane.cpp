#include "views/settings/assistant_pane.h"

#include "companion/menu_bar_controller.h"
#include "companion/notification_bus.h"
#include "hooks/hook_installer.h"
#include "state/settings_store.h"
#include "views/settings/ollama_section.h"
#include "views/settings/settings_controls.h"
#include "views/settings/settings_icons.h"

#include <QFormLayout>
#include <QHBoxLayout>

namespace perchwell {

namespace {

QLabel* addWarning(QVBoxLayout* layout, const QString& text) {
    QLabel* label = addCaption(layout, text);
    label->setStyleSheet(QStringLiteral("color: #b45309;"));
    return label;
}

} // namespace

AssistantPane::AssistantPane(SettingsStore& store, const SettingsActions& actions, QWidget* parent)
    : QWidget(parent), store_(store), actions_(actions) {
    QVBoxLayout* page = makeSettingsPage(this).layout;
    buildHookSection(page);
    buildKeepaliveSection(page);
    buildClosedLidSection(page);
    buildAutoContinueSection(page);

    QVBoxLayout* ollama = addSection(page, QStringLiteral("Ollama"));
    ollama_ = new OllamaSection(store, this);
    ollama->addWidget(ollama_);
    page->addStretch(1);

    refreshHookState();
    showKeepalive();
    showClosedLid();
    showPromptRewriteAvailability();
}

// --- Claude Code hook ----------------------------------------------------------------

void AssistantPane::buildHookSection(QVBoxLayout* page) {
    QVBoxLayout* section = addSection(page, QStringLiteral("Claude Code Hook"));
    hookState_ = new StatusRow(this);
    section->addWidget(hookState_);
    hookHint_ = addCaption(section, QString());

    install_ =
        makeButton(QStringLiteral("Install Claude Code hook"), QStringLiteral("square.and.arrow.down"), this);
    section->addWidget(install_);
    installCaption_ =
        addCaption(section, QStringLiteral("Adds one PreToolUse hook to ~/.claude/settings.json. "
                                           "Existing hook configuration is preserved."));
    auto* buttons = new QHBoxLayout;
    repair_ = makeButton(QStringLiteral("Repair install"), QStringLiteral("arrow.clockwise"), this);
    uninstall_ = makeButton(QStringLiteral("Uninstall"), QStringLiteral("trash"), this);
    buttons->addWidget(repair_);
    buttons->addWidget(uninstall_);
    buttons->addStretch(1);
    section->addLayout(buttons);
    hookError_ = addWarning(section, QString());
    hookError_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hookError_->hide();

    connect(install_, &QPushButton::clicked, this, &AssistantPane::installHook);
    connect(repair_, &QPushButton::clicked, this, &AssistantPane::installHook);
    connect(uninstall_, &QPushButton::clicked, this, &AssistantPane::uninstallHook);
}

void AssistantPane::refreshHookState() {
    const auto status = HookInstaller::status();
    const bool installed = status && status->installed();
    hookState_->set(installed ? QStringLiteral("checkmark.seal.fill") : QStringLiteral("circle.dotted"),
                    installed ? QStringLiteral("Installed in Claude Code config")
                              : QStringLiteral("Not installed"));
    hookHint_->setText(
        installed ? QStringLiteral("Claude Code asks Perchwell before Bash/Edit/Write/MultiEdit. This "
                                   "is fast, local, and reliable.")
                  : QStringLiteral("Install the hook so activity is detected from Claude Code itself "
                                   "instead of screen watching."));
    install_->setVisible(!installed);
    installCaption_->setVisible(!installed);
    repair_->setVisible(installed);
    uninstall_->setVisible(installed);
    if (!status) {
        // A settings file we cannot read is worth saying even before any action.
        showHookResult(status.error().message);
    }
}

void AssistantPane::installHook() {
    const auto result = HookInstaller::install(actions_.executableDir);
    showHookResult(result ? std::string() : result.error().message);
    refreshHookState();
}

void AssistantPane::uninstallHook() {
    const auto result = HookInstaller::uninstall();
    showHookResult(result ? std::string() : result.error().message);
    refreshHookState();
}

void AssistantPane::showHookResult(const std::string& error) {
    hookError_->setText(QString::fromStdString(error));
    hookError_->setVisible(!error.empty());
}

// --- Agent Keepalive ---------------------------------------------------------------

QString AssistantPane::agentKeepaliveStatusText(const SettingsStore& store) {
    if (!store.agentKeepalive()) {
        return QStringLiteral("Status: off");
    }
    if (store.agentKeepaliveActive()) {
        const QString reason = store.agentKeepaliveReason();
        QString text =
            QStringLiteral("Status: ") + (reason.isEmpty() ? QStringLiteral("Holding awake") : reason);
        if (store.agentKeepaliveReleaseAt().isValid()) {
            text +=
                QStringLiteral(", until ") + MenuBarController::formatTime(store.agentKeepaliveReleaseAt());
        }
        return text;
    }
    if (!store.agentKeepaliveLastActivityAt().isValid()) {
        return QStringLiteral("Status: waiting for live Claude Code activity");
    }
    return QStringLiteral("Status: waiting, last activity ") +
           MenuBarController::formatTime(store.agentKeepaliveLastActivityAt());
}

void AssistantPane::buildKeepaliveSection(QVBoxLayout* page) {
    QVBoxLayout* section = addSection(page, QStringLiteral("Agent Keepalive"));
    keepalive_ = boundToggle(store_, QStringLiteral("Agent Keepalive"), &SettingsStore::agentKeepalive,
                             &SettingsStore::setAgentKeepalive, &SettingsStore::agentKeepaliveChanged, this);
    section->addWidget(keepalive_);
    addCaption(section, QStringLiteral("When Perchwell sees live Claude Code activity, it takes keep-awake "
                                       "inhibitors from the system, extends them as activity continues, then "
                                       "releases them automatically."));
    hold_ = boundSecondsStepper(
        store_, &SettingsStore::agentKeepaliveHoldSeconds, &SettingsStore::setAgentKeepaliveHoldSeconds,
        &SettingsStore::agentKeepaliveHoldSecondsChanged, 900, 14400, 900, 60, QStringLiteral(" min"), this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Hold window"), hold_);
    section->addLayout(form);
    keepaliveStatus_ = new QLabel(this);
    keepaliveStatus_->setWordWrap(true);
    section->addWidget(keepaliveStatus_);
    vuveVurer_ = new QPushButton(this);
    vuveVurer_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    section->addWidget(vuveVurer_);
    addCaption(section,
               QStringLiteral("Use manual mode before walking away from Codex, a long shell job, or a run "
                              "without fresh logs."));

    connect(vuveVurer_, &QPushButton::clicked, this, [this] {
        NotificationBus::shared().post(store_.agentKeepaliveActive()
                                           ? NotificationBus::agentKeepaliveStopRequested
                                           : NotificationBus::agentKeepaliveStartRequested);
    });
    for (auto changed :
         {&SettingsStore::agentKeepaliveChanged, &SettingsStore::agentKeepaliveActiveChanged}) {
        connect(&store_, changed, this, &AssistantPane::showKeepalive);
    }
    connect(&store_, &SettingsStore::agentKeepaliveReasonChanged, this, &AssistantPane::showKeepalive);
    for (auto changed : {&SettingsStore::agentKeepaliveReleaseAtChanged,
                         &SettingsStore::agentKeepaliveLastActivityAtChanged}) {
        connect(&store_, changed, this, &AssistantPane::showKeepalive);
    }
}

void AssistantPane::showKeepalive() {
    keepaliveStatus_->setText(agentKeepaliveStatusText(store_));
    const bool holding = store_.agentKeepaliveActive();
    vuveVurer_->setText(holding ? QStringLiteral("Stop Vuve Vurer") : QStringLiteral("Start Vuve Vurer now"));
    vuveVurer_->setIcon(
        settingsIcon(holding ? QStringLiteral("stop.circle") : QStringLiteral("bolt.circle")));
}

// --- Closed-Lid Mode -----------------------------------------------------------------

void AssistantPane::buildClosedLidSection(QVBoxLayout* page) {
    QVBoxLayout* section = addSection(page, QStringLiteral("Closed-Lid Mode"));
    closedLid_ =
        boundToggle(store_, QStringLiteral("Closed-Lid Mode"), &SettingsStore::agentKeepaliveClosedLidMode,
                    &SettingsStore::setAgentKeepaliveClosedLidMode,
                    &SettingsStore::agentKeepaliveClosedLidModeChanged, this);
    closedLid_->setIcon(settingsIcon(QStringLiteral("laptopcomputer.and.arrow.down")));
    section->addWidget(closedLid_);
    addCaption(section, QStringLiteral("Closed-Lid Mode keeps the computer awake by preventing sleep."));
    addCaption(section,
               QStringLiteral("The computer cannot run code while actually asleep. Agent Keepalive uses "
                              "inhibitors for normal idle sleep; Closed-Lid Mode adds a lid-switch block, "
                              "approved through polkit, while Vuve Vurer is active."));
    closedLidState_ = new QLabel(this);
    closedLidState_->setWordWrap(true);
    section->addWidget(closedLidState_);
    closedLidWarnings_ = new QWidget(this);
    auto* warnings = new QVBoxLayout(closedLidWarnings_);
    warnings->setContentsMargins(0, 0, 0, 0);
    addWarning(warnings,
               QStringLiteral("This temporarily disables system sleep while the keepalive window is "
                              "active, then restores sleep automatically. Do not use it inside a bag or "
                              "anywhere heat cannot escape."));
    addCaption(warnings,
               QStringLiteral("Best for stepping away, locking the screen, or waiting on long tasks. "
                              "Closed-Lid Mode is experimental and uses a temporary lid-switch lock; low "
                              "battery, thermal pressure, shutdown, and system policy can still stop the "
                              "computer."));
    section->addWidget(closedLidWarnings_);
    closedLidError_ = addWarning(section, QString());
    closedLidError_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    connect(&store_, &SettingsStore::agentKeepaliveClosedLidModeChanged, this, &AssistantPane::showClosedLid);
    connect(&store_, &SettingsStore::agentKeepaliveClosedLidActiveChanged, this,
            &AssistantPane::showClosedLid);
    connect(&store_, &SettingsStore::agentKeepaliveClosedLidErrorChanged, this,
            &AssistantPane::showClosedLid);
}

void AssistantPane::showClosedLid() {
    const bool on = store_.agentKeepaliveClosedLidMode();
    closedLidState_->setText(
        store_.agentKeepaliveClosedLidActive()
            ? QStringLiteral("Closed-Lid Mode is armed.")
            : QStringLiteral("Closed-Lid Mode will ask for administrator approval when Vuve "
                             "Vurer starts."));
    closedLidState_->setVisible(on);
    closedLidWarnings_->setVisible(on);
    const QString error = store_.agentKeepaliveClosedLidError();
    closedLidError_->setText(error);
    closedLidError_->setVisible(!error.isEmpty());
}

// --- Auto Continue and prompt rewrites -----------------------------------------------

void AssistantPane::buildAutoContinueSection(QVBoxLayout* page) {
    QVBoxLayout* section = addSection(page, QStringLiteral("Auto Continue"));
    autoContinue_ =
        boundToggle(store_, QStringLiteral("Auto-type \"continue\" when idle"), &SettingsStore::autoContinue,
                    &SettingsStore::setAutoContinue, &SettingsStore::autoContinueChanged, this);
    section->addWidget(autoContinue_);
    addCaption(section,
               QStringLiteral("When a Claude Code session is quiet past this threshold, Perchwell sends "
                              "\"continue\" and Return to the trusted terminal. Each session has a "
                              "10-minute cooldown."));
    idle_ = boundSecondsStepper(
        store_, &SettingsStore::autoContinueIdleSeconds, &SettingsStore::setAutoContinueIdleSeconds,
        &SettingsStore::autoContinueIdleSecondsChanged, 30, 600, 30, 1, QStringLiteral(" sec"), this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Idle threshold"), idle_);
    section->addLayout(form);

    QVBoxLayout* rewrite = addSection(page, QStringLiteral("Prompt Rewrites"));
    promptRewrite_ = boundToggle(
        store_, QStringLiteral("Prompt rewrite suggestions"), &SettingsStore::promptEnhancerEnabled,
        &SettingsStore::setPromptEnhancerEnabled, &SettingsStore::promptEnhancerEnabledChanged, this);
    rewrite->addWidget(promptRewrite_);
    addCaption(rewrite,
               QStringLiteral("When a prompt looks vague, Perchwell can ask local Ollama for a one-line "
                              "rewrite, copy it to the clipboard, and show it in the desktop status."));
    addCaption(rewrite,
               QStringLiteral("Use a small local model such as qwen2.5:0.5b or llama3.2:1b for low-latency "
                              "suggestions."));
    promptRewriteHint_ = addWarning(rewrite, QStringLiteral("Enable Ollama below before turning this on."));
    connect(&store_, &SettingsStore::ollamaEnabledChanged, this,
            &AssistantPane::showPromptRewriteAvailability);
}

void AssistantPane::showPromptRewriteAvailability() {
    const bool available = store_.ollamaEnabled();
    promptRewrite_->setEnabled(available);
    promptRewriteHint_->setVisible(!available);
}

} // namespace perchwell
