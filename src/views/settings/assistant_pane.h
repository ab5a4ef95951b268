#pragma once

#include "views/settings/settings_actions.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWidget>

namespace perchwell {

class OllamaSection;
class SettingsStore;
class StatusRow;

// Agent: the Claude Code hook, Agent Keepalive with Vuve Vurer, Closed-Lid Mode, Auto
// Continue, prompt rewrites and Ollama.
class AssistantPane : public QWidget {
    Q_OBJECT
public:
    AssistantPane(SettingsStore& store, const SettingsActions& actions, QWidget* parent = nullptr);

    // "Status: ..." for the keepalive as the store has it now.
    static QString agentKeepaliveStatusText(const SettingsStore& store);

    // Reads Claude Code's settings file again.
    void refreshHookState();
    void installHook();
    void uninstallHook();

    StatusRow* hookState() const { return hookState_; }
    QPushButton* installButton() const { return install_; }
    QPushButton* repairButton() const { return repair_; }
    QPushButton* uninstallButton() const { return uninstall_; }
    // The installer's last error; empty after a success.
    QString hookError() const { return hookError_->isHidden() ? QString() : hookError_->text(); }

    QCheckBox* keepaliveToggle() const { return keepalive_; }
    QSpinBox* holdStepper() const { return hold_; }
    QString keepaliveStatus() const { return keepaliveStatus_->text(); }
    QPushButton* vuveVurerButton() const { return vuveVurer_; }
    QCheckBox* closedLidToggle() const { return closedLid_; }
    QString closedLidState() const {
        return closedLidState_->isHidden() ? QString() : closedLidState_->text();
    }
    QString closedLidError() const {
        return closedLidError_->isHidden() ? QString() : closedLidError_->text();
    }
    QCheckBox* autoContinueToggle() const { return autoContinue_; }
    QSpinBox* idleStepper() const { return idle_; }
    QCheckBox* promptRewriteToggle() const { return promptRewrite_; }
    QLabel* promptRewriteHint() const { return promptRewriteHint_; }
    OllamaSection* ollama() const { return ollama_; }

private:
    void buildHookSection(QVBoxLayout* page);
    void buildKeepaliveSection(QVBoxLayout* page);
    void buildClosedLidSection(QVBoxLayout* page);
    void buildAutoContinueSection(QVBoxLayout* page);
    void showHookResult(const std::string& error);
    void showKeepalive();
    void showClosedLid();
    void showPromptRewriteAvailability();

    SettingsStore& store_;
    SettingsActions actions_;
    StatusRow* hookState_ = nullptr;
    QLabel* hookHint_ = nullptr;
    QPushButton* install_ = nullptr;
    QLabel* installCaption_ = nullptr;
    QPushButton* repair_ = nullptr;
    QPushButton* uninstall_ = nullptr;
    QLabel* hookError_ = nullptr;
    QCheckBox* keepalive_ = nullptr;
    QSpinBox* hold_ = nullptr;
    QLabel* keepaliveStatus_ = nullptr;
    QPushButton* vuveVurer_ = nullptr;
    QCheckBox* closedLid_ = nullptr;
    QLabel* closedLidState_ = nullptr;
    QWidget* closedLidWarnings_ = nullptr;
    QLabel* closedLidError_ = nullptr;
    QCheckBox* autoContinue_ = nullptr;
    QSpinBox* idle_ = nullptr;
    QCheckBox* promptRewrite_ = nullptr;
    QLabel* promptRewriteHint_ = nullptr;
    OllamaSection* ollama_ = nullptr;
};

} // namespace perchwell
