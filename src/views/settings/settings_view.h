#pragma once

#include "views/settings/settings_actions.h"
#include "views/settings/settings_tab.h"

#include <QTabWidget>
#include <QWidget>

namespace perchwell {

class AboutPane;
class AssistantPane;
class GeneralPane;
class HookPresenceMonitor;
class MCPPane;
class MCPServer;
class PermissionsManager;
class PermissionsPane;
class SettingsStore;

// The settings window "Perchwell": a header above five tabs. It keeps no settings of its
// own: every control shows a store property (following changes made elsewhere at once)
// or calls another component. Built once and shown again when reopened.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int width = 540;
    static constexpr int height = 620;

    // `server` and `hookPresence` may be null.
    SettingsView(SettingsStore& store, PermissionsManager& permissions, MCPServer* server,
                 SettingsTab firstTab, SettingsActions actions = SettingsActions::system(),
                 HookPresenceMonitor* hookPresence = nullptr, QWidget* parent = nullptr);

    SettingsTab currentTab() const;
    void showTab(SettingsTab tab);
    QTabWidget* tabs() const { return tabs_; }

    GeneralPane* general() const { return general_; }
    AssistantPane* assistant() const { return assistant_; }
    PermissionsPane* permissionsPane() const { return permissions_; }
    MCPPane* mcp() const { return mcp_; }
    AboutPane* about() const { return about_; }

    // Shows the window, or brings it to the front with its tab as it was.
    void present();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTabWidget* tabs_;
    GeneralPane* general_;
    AssistantPane* assistant_;
    PermissionsPane* permissions_;
    MCPPane* mcp_;
    AboutPane* about_;
};

} // namespace perchwell
