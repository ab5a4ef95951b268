#include "hooks/hook_socket_server.h"

#include "common/file_util.h"
#include "common/unique_fd.h"
#include "common/utf8.h"
#include "hooks/frame_connection.h"
#include "hooks/hook_command.h"
#include "hooks/hook_input.h"
#include "platform/defaults_domain.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace perchwell {
namespace {

HookSettings settingsFromStandardDomain() {
    DefaultsDomain defaults = DefaultsDomain::standard();
    return HookSettings::fromUserDefaults(defaults);
}

} // namespace

std::string HookSocketServer::defaultSocketPath() {
    return Paths::dataFile("hook.sock");
}

HookSocketServer::HookSocketServer() : HookSocketServer(Options{}) {}

HookSocketServer::HookSocketServer(Options options) : options_(std::move(options)) {
    if (!options_.settingsProvider) {
        options_.settingsProvider = settingsFromStandardDomain;
    }
    options_.workerCount = std::max<size_t>(options_.workerCount, 1);
    options_.maxPendingConnections = std::max<size_t>(options_.maxPendingConnections, 1);
}

HookSocketServer::~HookSocketServer() {
    if (running_.load() || serverFd_ >= 0) {
        stop();
    }
}

Result<void> HookSocketServer::start() {
    if (running_.load()) {
        return {};
    }
    const std::string& path = options_.socketPath;
    // The directory is owner-only: nobody else may even reach the socket.
    [[maybe_unused]] auto made =
        files::ensureDirectory(files::parentDirectory(path), Paths::dataDirectoryMode);
    ::unlink(path.c_str());

    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        const std::string message = "socket() failed errno=" + std::to_string(errno);
        log_.error(message);
        return Error{message};
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t needed = path.size() + 1;
    if (needed > sizeof(address.sun_path)) {
        const std::string message = "socket path too long (" + std::to_string(needed) + "/" +
                                    std::to_string(sizeof(address.sun_path)) + "): " + path;
        log_.error(message);
        return Error{message};
    }
    std::memcpy(address.sun_path, path.c_str(), needed);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const std::string message = "bind() failed errno=" + std::to_string(errno) + " path=" + path;
        log_.error(message);
        return Error{message};
    }
    ::chmod(path.c_str(), 0600);
    if (::listen(fd.get(), 8) != 0) {
        const std::string message = "listen() failed errno=" + std::to_string(errno);
        log_.error(message);
        ::unlink(path.c_str());
        return Error{message};
    }

    serverFd_ = fd.release();
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    running_.store(true);
    log_.info("listening on " + path);
    for (size_t i = 0; i < options_.workerCount; ++i) {
        workers_.emplace_back([this] { workerLoop(); });
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return {};
}

void HookSocketServer::stop() {
    running_.store(false);
    if (serverFd_ >= 0) {
        // Shutting the listening socket down wakes a blocked accept().
        ::shutdown(serverFd_, SHUT_RDWR);
    }
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    closeListeningSocket();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const int fd : pending_) {
            ::close(fd);
        }
        pending_.clear();
        // Wakes workers waiting on a client; they then close their connection.
        for (const int fd : active_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    wake_.notify_all();
    for (auto& worker : workers_) {
        worker.join();
    }
    workers_.clear();
    ::unlink(options_.socketPath.c_str());
    log_.info("stopped");
}

void HookSocketServer::closeListeningSocket() {
    if (serverFd_ >= 0) {
        ::close(serverFd_);
        serverFd_ = -1;
    }
}

void HookSocketServer::acceptLoop() {
    while (running_.load()) {
        const int client = ::accept4(serverFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            const int err = errno;
            if (!running_.load()) {
                break;
            }
            if (err == EINTR) {
                continue;
            }
            if (err == EBADF || err == EINVAL) {
                break;
            }
            log_.warning("accept() failed errno=" + std::to_string(err));
            if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
                // Out of descriptors or memory: give the workers a moment instead of spinning.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            continue;
        }
        bool queued = false;
        size_t depth = 0;
        {
            std::lock_guard lock(mutex_);
            depth = pending_.size();
            if (depth < options_.maxPendingConnections) {
                pending_.push_back(client);
                queued = true;
            }
        }
        if (queued) {
            wake_.notify_one();
        } else {
            log_.warning("client: too many pending connections (" + std::to_string(depth) + ") — closing");
            ::close(client);
        }
    }
}

void HookSocketServer::workerLoop() {
    for (;;) {
        int fd = -1;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            if (stopping_) {
                return;
            }
            fd = pending_.front();
            pending_.pop_front();
            active_.insert(fd);
        }
        handleClient(fd);
        {
            std::lock_guard lock(mutex_);
            active_.erase(fd);
        }
        ::close(fd);
    }
}

void HookSocketServer::handleClient(int fd) {
    FrameConnection connection(fd, FrameConnection::Clock::now() + options_.ioTimeout);
    uint32_t length = 0;
    if (!connection.readU32BE(length)) {
        log_.warning("client: failed to read length prefix");
        return;
    }
    if (length == 0 || length > maxPayloadBytes) {
        log_.warning("client: payload size out of range: " + std::to_string(length));
        return;
    }
    std::string payload(length, '\0');
    if (!connection.readExact(payload.data(), length)) {
        log_.warning("client: failed to read " + std::to_string(length) + "-byte payload");
        return;
    }

    const HookInput input = HookInput::parse(payload);
    const HookSettings settings = options_.settingsProvider();
    const ReviewPolicyLevel policy = HookCommand::sessionPolicy(input.stringField("session_id"));
    const HookCommand::Decision decision = HookCommand::decide(input, settings, policy);
    const std::string response = HookCommand::formatDecisionJSON(decision);
    if (!utf8::isValid(response)) {
        log_.error("response UTF-8 encode failed — closing connection");
        return;
    }
    HookCommand::appendLog(input.stringField("tool_name").value_or(""), decision.decision,
                           input.stringField("cwd").value_or(""), decision.tag);

    if (!connection.writeU32BE(static_cast<uint32_t>(response.size()))) {
        log_.warning("client: failed to write response length prefix");
        return;
    }
    if (!connection.writeAll(response.data(), response.size())) {
        log_.warning("client: failed to write " + std::to_string(response.size()) + "-byte response");
    }
}

} // namespace perchwell
