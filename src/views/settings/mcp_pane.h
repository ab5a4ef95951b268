#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QSpinBox>
#include <QWidget>

namespace perchwell {

class MCPServer;
class SettingsStore;
class StatusRow;

// MCP / Integrations: the local HTTP / MCP interface, its port and state.
class MCPPane : public QWidget {
    Q_OBJECT
public:
    // `server` may be null (the window opened before the launch built it): the state
    // then reads as starting.
    MCPPane(SettingsStore& store, MCPServer* server, QWidget* parent = nullptr);

    QCheckBox* enabledToggle() const { return enabled_; }
    QSpinBox* portStepper() const { return port_; }
    StatusRow* status() const { return status_; }
    QString endpoints() const { return endpoints_->text(); }

private:
    void showState();

    SettingsStore& store_;
    QPointer<MCPServer> server_;
    QCheckBox* enabled_;
    QSpinBox* port_;
    StatusRow* status_;
    QLabel* endpoints_;
};

} // namespace perchwell
