#include "hooks/hook_socket_server.h"

#include "common/file_util.h"
#include "common/unique_fd.h"
#include "common/unix_socket.h"
#include "common/utf8.h"
#include "hooks/frame_connection.h"
#include "hooks/hook_command.h"
#include "hooks/hook_input.h"
#include "platform/defaults_domain.h"
#include "platform/paths.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
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
    const auto address = unixSocketAddress(path);
    if (!address) {
        const std::string message = "socket path too long (" + std::to_string(path.size() + 1) + "/" +
                                    std::to_string(sizeof(sockaddr_un::sun_path)) + "): " + path;
        log_.error(message);
        return Error{message};
    }
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0) {
        const std::string message = "bind() failed errno=" + std::to_string(errno) + " path=" + path;
        log_.error(message);
        return Error{message};
    }
    ::chmod(path.c_str(), 0600);
    // A deep backlog: a burst of tool uses must not find the queue full, since a client
    // that cannot connect at once falls back to deciding alone.
    if (::listen(fd.get(), SOMAXCONN) != 0) {
        const std::string message = "listen() failed errno=" + std::to_string(errno);
        log_.error(message);
        ::unlink(path.c_str());
        return Error{message};
    }

    UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    epoll_event listening{EPOLLIN, {.fd = fd.get()}};
    epoll_event stopping{EPOLLIN, {.fd = wake.get()}};
    if (!epoll.valid() || !wake.valid() ||
        ::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd.get(), &listening) != 0 ||
        ::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, wake.get(), &stopping) != 0) {
        const std::string message = "epoll setup failed errno=" + std::to_string(errno);
        log_.error(message);
        ::unlink(path.c_str());
        return Error{message};
    }
    // Non-blocking, so the I/O thread can take every waiting connection and return.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);

    serverFd_ = fd.release();
    epollFd_ = epoll.release();
    wakeFd_ = wake.release();
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    running_.store(true);
    log_.info("listening on " + path);
    for (size_t i = 0; i < options_.workerCount; ++i) {
        workers_.emplace_back([this] { workerLoop(); });
    }
    ioThread_ = std::thread([this] { ioLoop(); });
    return {};
}

void HookSocketServer::stop() {
    running_.store(false);
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
    if (ioThread_.joinable()) {
        ioThread_.join();
    }
    closeListeningSocket();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const Request& request : ready_) {
            ::close(request.fd);
        }
        ready_.clear();
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
    for (int* fd : {&serverFd_, &epollFd_, &wakeFd_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void HookSocketServer::ioLoop() {
    epoll_event events[64];
    while (running_.load()) {
        int timeout = -1;
        if (!incoming_.empty()) {
            auto earliest = Clock::time_point::max();
            for (const auto& [fd, incoming] : incoming_) {
                earliest = std::min(earliest, incoming.deadline);
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(earliest - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
        }
        const int n = ::epoll_wait(epollFd_, events, static_cast<int>(std::size(events)), timeout);
        if (n < 0 && errno != EINTR) {
            log_.error("epoll_wait() failed errno=" + std::to_string(errno));
            break;
        }
        for (int i = 0; i < n && running_.load(); ++i) {
            const int fd = events[i].data.fd;
            if (fd == serverFd_) {
                acceptAll();
            } else if (fd != wakeFd_) {
                const auto it = incoming_.find(fd);
                if (it != incoming_.end() && !readFrom(fd, it->second)) {
                    incoming_.erase(fd);
                }
            }
        }
        expireIncoming();
    }
    for (const auto& [fd, incoming] : incoming_) {
        ::close(fd);
    }
    incoming_.clear();
}

void HookSocketServer::acceptAll() {
    for (;;) {
        const int client = ::accept4(serverFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            const int err = errno;
            if (err == EINTR) {
                continue;
            }
            if (err != EAGAIN && err != EWOULDBLOCK) {
                log_.warning("accept() failed errno=" + std::to_string(err));
            }
            if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
                // The connection stays queued and wakes us again: give the workers a
                // moment instead of spinning.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            return;
        }
        size_t pending = incoming_.size();
        {
            std::lock_guard lock(mutex_);
            pending += ready_.size();
        }
        epoll_event event{EPOLLIN | EPOLLRDHUP, {.fd = client}};
        if (pending >= options_.maxPendingConnections) {
            log_.warning("client: too many pending connections (" + std::to_string(pending) + ") — closing");
            ::close(client);
        } else if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, client, &event) != 0) {
            log_.warning("epoll_ctl() failed errno=" + std::to_string(errno));
            ::close(client);
        } else {
            incoming_[client].deadline = Clock::now() + options_.ioTimeout;
        }
    }
}

bool HookSocketServer::readFrom(int fd, Incoming& incoming) {
    for (;;) {
        // Never past the frame: one request per connection.
        const size_t room = incoming.wanted - incoming.frame.size();
        const size_t chunk = std::min<size_t>(room, 65536);
        const size_t had = incoming.frame.size();
        incoming.frame.resize(had + chunk);
        const ssize_t n = ::recv(fd, incoming.frame.data() + had, chunk, 0);
        incoming.frame.resize(had + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        if (n <= 0) {
            dropIncoming(fd, incoming.wanted == 4
                                 ? "client: failed to read length prefix"
                                 : "client: failed to read " + std::to_string(incoming.wanted - 4) +
                                       "-byte payload");
            return false;
        }
        if (incoming.wanted == 4 && incoming.frame.size() == 4) {
            uint32_t network = 0;
            std::memcpy(&network, incoming.frame.data(), 4);
            const uint32_t length = ntohl(network);
            if (length == 0 || length > maxPayloadBytes) {
                dropIncoming(fd, "client: payload size out of range: " + std::to_string(length));
                return false;
            }
            incoming.wanted = 4 + length;
        } else if (incoming.wanted > 4 && incoming.frame.size() == incoming.wanted) {
            ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
            Request request{fd, incoming.frame.substr(4), incoming.deadline};
            {
                std::lock_guard lock(mutex_);
                ready_.push_back(std::move(request));
            }
            wake_.notify_one();
            return false;
        }
    }
}

void HookSocketServer::dropIncoming(int fd, const std::string& warning) {
    log_.warning(warning);
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
}

void HookSocketServer::expireIncoming() {
    const auto now = Clock::now();
    for (auto it = incoming_.begin(); it != incoming_.end();) {
        if (it->second.deadline <= now) {
            const Incoming& incoming = it->second;
            dropIncoming(it->first, incoming.wanted == 4
                                        ? "client: failed to read length prefix"
                                        : "client: failed to read " + std::to_string(incoming.wanted - 4) +
                                              "-byte payload");
            it = incoming_.erase(it);
        } else {
            ++it;
        }
    }
}

void HookSocketServer::workerLoop() {
    for (;;) {
        Request request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
            if (stopping_) {
                return;
            }
            request = std::move(ready_.front());
            ready_.pop_front();
            active_.insert(request.fd);
        }
        const int fd = request.fd;
        answer(std::move(request));
        {
            std::lock_guard lock(mutex_);
            active_.erase(fd);
        }
        ::close(fd);
    }
}

void HookSocketServer::answer(Request request) {
    const HookInput input = HookInput::parseOwned(std::move(request.payload));
    const HookSettings settings = options_.settingsProvider();
    const ReviewPolicyLevel policy = HookCommand::sessionPolicy(input.stringField("session_id"));
    const HookCommand::Decision decision = HookCommand::decide(input, settings, policy);
    const std::string response = HookCommand::formatDecisionJSON(decision);
    if (!utf8::isValid(response)) {
        log_.error("response UTF-8 encode failed — closing connection");
        return;
    }
    // The whole frame goes out in one write, so it either reaches the client or fails
    // (a client that gave up has shut its reading side); only a delivered answer is
    // logged, and one the client gave up on is logged by its fallback instead.
    FrameConnection connection(request.fd, request.deadline);
    if (!connection.writeFrame(response)) {
        log_.warning("client: failed to write " + std::to_string(response.size() + 4) + "-byte response");
        return;
    }
    HookCommand::appendLog(input.stringField("tool_name").value_or(""), decision.decision,
                           input.stringField("cwd").value_or(""), decision.tag);
}

} // namespace perchwell
