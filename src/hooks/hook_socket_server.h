#pragma once

#include "common/app_logger.h"
#include "common/result.h"
#include "hooks/hook_settings.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace perchwell {

// Serves hook decisions on a Unix-domain stream socket while the application runs.
// One request per connection: a 4-byte big-endian length and that many bytes of hook
// input; the answer is framed the same way, then the connection closes. Every request
// is judged as "PreToolUse" and logged in the hook event log like the hook process.
//
// One accept thread hands connections to a fixed pool of workers through a bounded
// queue; each connection must finish within `ioTimeout`, so clients that connect and
// send nothing cannot hold the pool for long, and a full queue refuses at once (the
// client then falls back to deciding alone).
class HookSocketServer {
public:
    static constexpr uint32_t maxPayloadBytes = 2'097'152;

    struct Options {
        std::string socketPath = defaultSocketPath();
        // The hook switches for one request; by default read afresh from the settings
        // domain, exactly as the hook process reads them.
        std::function<HookSettings()> settingsProvider;
        size_t workerCount = 4;
        size_t maxPendingConnections = 64;
        std::chrono::milliseconds ioTimeout{3000};
    };

    // "hook.sock" in the data directory.
    static std::string defaultSocketPath();

    HookSocketServer();
    explicit HookSocketServer(Options options);
    // Stops serving and removes the socket file if still running.
    ~HookSocketServer();
    HookSocketServer(const HookSocketServer&) = delete;
    HookSocketServer& operator=(const HookSocketServer&) = delete;

    // Binds, listens and starts the threads. Failures are logged and returned; the
    // server then stays down for the rest of the run.
    Result<void> start();
    // Closes the listening socket, ends the threads, removes the socket file and logs
    // "stopped". Connections in progress are cut off.
    void stop();

    bool running() const { return running_.load(); }
    const std::string& socketPath() const { return options_.socketPath; }

private:
    void acceptLoop();
    void workerLoop();
    void handleClient(int fd);
    void closeListeningSocket();

    Options options_;
    AppLogger log_{"hook-sock"};
    std::atomic<bool> running_{false};
    int serverFd_ = -1;
    std::thread acceptThread_;
    std::vector<std::thread> workers_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<int> pending_;
    std::set<int> active_;
    bool stopping_ = false;
};

} // namespace perchwell
