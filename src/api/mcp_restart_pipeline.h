#pragma once

#include <QObject>
#include <QTimer>
#include <utility>

namespace perchwell {

class MCPServer;
class SettingsStore;

// The subscription that restarts the local API when (mcpEnabled, mcpPort) changes:
// the current pair is skipped, changes are debounced, and a settled pair equal to the
// one last applied does nothing; otherwise the server stops and, when enabled, starts
// again. Destroying it ends the subscription. Main thread only.
class MCPRestartPipeline : public QObject {
    Q_OBJECT

public:
    static constexpr int debounceMs = 400;

    MCPRestartPipeline(SettingsStore& store, MCPServer& server, int debounce = debounceMs,
                       QObject* parent = nullptr);

private:
    using Pair = std::pair<bool, qint64>;
    void changed(Pair pair);
    void settle();

    MCPServer& server_;
    Pair applied_;
    Pair pending_;
    QTimer timer_;
};

} // namespace perchwell
