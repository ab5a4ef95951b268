#include "api/mcp_restart_pipeline.h"

#include "api/mcp_server.h"
#include "state/settings_store.h"

namespace perchwell {

MCPRestartPipeline::MCPRestartPipeline(SettingsStore& store, MCPServer& server, int debounce, QObject* parent)
    : QObject(parent), server_(server), applied_{store.mcpEnabled(), store.mcpPort()}, pending_(applied_) {
    timer_.setSingleShot(true);
    timer_.setInterval(debounce);
    connect(&timer_, &QTimer::timeout, this, &MCPRestartPipeline::settle);
    // Subscribers get the value they are handed, never a fresh read of the other member.
    connect(&store, &SettingsStore::mcpEnabledChanged, this, [this](bool enabled) {
        changed({enabled, pending_.second});
    });
    connect(&store, &SettingsStore::mcpPortChanged, this, [this](qint64 port) {
        changed({pending_.first, port});
    });
}

void MCPRestartPipeline::changed(Pair pair) {
    if (pair == pending_) {
        return; // a repeat of the latest pair
    }
    pending_ = pair;
    timer_.start();
}

void MCPRestartPipeline::settle() {
    if (pending_ == applied_) {
        return; // back where it started: nothing to restart
    }
    applied_ = pending_;
    server_.stop();
    if (applied_.first) {
        server_.start();
    }
}

} // namespace perchwell
