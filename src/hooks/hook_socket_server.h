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
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace perchwell {

// Serves hook decisions on a Unix-domain stream socket while the application runs.
// One request per connection: a 4-byte big-endian length and that many bytes of hook
// input; the answer is framed the same way, then the connection closes. Every request
// is judged as "PreToolUse"; an answer that reached the client is logged in the hook
// event log like the hook process logs it (one the client had given up on is not: the
// client's fallback logs that one).
//
// One I/O thread accepts connections and reads their frames without blocking, so a
// connection that sends nothing holds no worker; only a complete request goes to the
// fixed pool of workers that decide and answer. Each connection must deliver its
// request within `ioTimeout` of being accepted, and at most `maxPendingConnections`
// may be waiting at once; beyond that a connection is refused at once (the client
// then falls back to deciding alone).
class HookSocketServer {
public:
    static constexpr uint32_t maxPayloadBytes = 2'097'152;

    struct Options {
        std::string socketPath = defaultSocketPath();
        // The hook switches for one request; by default read afresh from the settings
        // domain, exactly as the hook process reads them.
        std::function<HookSettings()> settingsProvider;
        size_t workerCount = 4;
        // Connections still sending their request or waiting for a worker.
        size_t maxPendingConnections = 256;
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
    using Clock = std::chrono::steady_clock;

    // A connection whose request has not fully arrived.
    struct Incoming {
        std::string frame; // length prefix and payload as received so far
        size_t wanted = 4; // the whole frame's size once the prefix is known
        Clock::time_point deadline;
    };
    // A complete request, waiting for a worker.
    struct Request {
        int fd = -1;
        std::string payload;
        Clock::time_point deadline;
    };

    void ioLoop();
    void acceptAll();
    // Reads what `fd` has; true while the connection stays open for more.
    bool readFrom(int fd, Incoming& incoming);
    void dropIncoming(int fd, const std::string& warning);
    void expireIncoming();
    void workerLoop();
    void answer(Request request);
    void closeListeningSocket();

    Options options_;
    AppLogger log_{"hook-sock"};
    std::atomic<bool> running_{false};
    int serverFd_ = -1;
    int epollFd_ = -1;
    int wakeFd_ = -1; // eventfd: stop() wakes the I/O thread through it
    std::thread ioThread_;
    std::vector<std::thread> workers_;
    std::map<int, Incoming> incoming_; // the I/O thread's own

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> ready_;
    std::set<int> active_;
    bool stopping_ = false;
};

} // namespace perchwell
