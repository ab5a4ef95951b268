#include "views/settings/mcp_pane.h"

#include "api/mcp_server.h"
#include "state/settings_store.h"
#include "views/settings/settings_controls.h"

#include <QFormLayout>

namespace perchwell {

MCPPane::MCPPane(SettingsStore& store, MCPServer* server, QWidget* parent)
    : QWidget(parent), store_(store), server_(server) {
    QVBoxLayout* page = makeSettingsPage(this).layout;
    QVBoxLayout* section = addSection(page, QStringLiteral("Agent / Desktop Companion API"));
    enabled_ =
        boundToggle(store, QStringLiteral("Enable local HTTP / MCP interface"), &SettingsStore::mcpEnabled,
                    &SettingsStore::setMcpEnabled, &SettingsStore::mcpEnabledChanged, this);
    section->addWidget(enabled_);

    port_ = new QSpinBox(this);
    port_->setRange(1024, 65535);
    port_->setSingleStep(1);
    port_->setGroupSeparatorShown(false);
    // The server restarts on each committed value; typing a port commits it once.
    port_->setKeyboardTracking(false);
    port_->setMinimumWidth(110);
    port_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Port"), port_);
    section->addLayout(form);

    status_ = new StatusRow(this);
    section->addWidget(status_);
    endpoints_ = addCaption(section, QString());
    endpoints_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    page->addStretch(1);

    connect(port_, &QSpinBox::valueChanged, &store, [this](int port) { store_.setMcpPort(port); });
    connect(&store, &SettingsStore::mcpPortChanged, this, &MCPPane::showState);
    connect(&store, &SettingsStore::mcpEnabledChanged, this, &MCPPane::showState);
    if (server_) {
        connect(server_, &MCPServer::isListeningChanged, this, &MCPPane::showState);
        connect(server_, &MCPServer::lastErrorChanged, this, &MCPPane::showState);
    }
    showState();
}

void MCPPane::showState() {
    const quint16 port = MCPServer::clampedPort(store_.mcpPort());
    {
        const QSignalBlocker quiet(port_);
        port_->setValue(port);
    }
    port_->setEnabled(store_.mcpEnabled());

    if (server_ && server_->isListening()) {
        status_->set(QStringLiteral("checkmark.circle.fill"),
                     QStringLiteral("Listening on port %1").arg(server_->port()));
    } else if (server_ && !server_->lastError().isEmpty()) {
        status_->set(QStringLiteral("exclamationmark.triangle.fill"),
                     QStringLiteral("Failed to start: ") + server_->lastError());
    } else {
        status_->set(QStringLiteral("circle.dotted"), QStringLiteral("Starting..."));
    }

    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    endpoints_->setText(base + QStringLiteral("\nGET /api/state · POST /api/control · GET /api/events (event "
                                              "stream) · POST /mcp\nSee README for the MCP wrapper."));
}

} // namespace perchwell
