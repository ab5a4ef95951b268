#include "hook_client.h"

#include "common/file_util.h"
#include "common/unique_fd.h"
#include "common/unix_socket.h"
#include "hooks/frame_connection.h"
#include "hooks/hook_command.h"
#include "hooks/in_situ_json.h"
#include "platform/paths.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace perchwell {
namespace {

// The socket refuses larger requests; such input goes to the fallback.
constexpr size_t maxRequestBytes = 2'097'152;
// Answers are a short JSON object; anything much larger is not one.
constexpr uint32_t maxResponseBytes = 65'536;

// Finds the top-level "hook_event_name" and stops reading there: hook inputs may be
// megabytes of tool input, and only this one member decides where the event goes.
class EventNameProbe final : public InSituJsonHandler<EventNameProbe> {
public:
    enum class Outcome { undecided, preToolUse, otherEvent, noEventName };
    Outcome outcome = Outcome::undecided;
    std::string eventName;

    bool Null() { return scalar(); }
    bool Bool(bool) { return scalar(); }
    bool RawNumber(const char*, SizeType, bool) { return scalar(); }
    bool String(const char* text, SizeType length, bool) {
        if (eventNameNext_ && depth() == 1) {
            eventName.assign(text, length);
        }
        return scalar();
    }
    bool Key(const char* text, SizeType length, bool) {
        eventNameNext_ = depth() == 1 && std::string_view(text, length) == "hook_event_name";
        return true;
    }
    bool StartObject() { return start(); }
    bool StartArray() {
        // A top-level array is no hook input: decided like the hook process decides it.
        return depth() != 0 && start();
    }
    bool EndObject(SizeType) { return end(); }
    bool EndArray(SizeType) { return end(); }

private:
    bool scalar() {
        if (depth() == 0) {
            return false; // a top-level scalar: no hook input either
        }
        if (eventNameNext_) {
            outcome = eventName == "PreToolUse" ? Outcome::preToolUse : Outcome::otherEvent;
            return false;
        }
        return true;
    }
    bool start() {
        if (eventNameNext_) {
            outcome = Outcome::otherEvent;
            return false;
        }
        if (!enter()) {
            return false;
        }
        open();
        return true;
    }
    bool end() {
        close();
        if (depth() == 0) {
            outcome = Outcome::noEventName;
        }
        return true;
    }

    bool eventNameNext_ = false;
};

EventNameProbe probe(std::string_view input) {
    EventNameProbe probe;
    // On a copy: the bytes still go to the socket or the fallback unchanged.
    InSituJson(input).parse(probe);
    return probe;
}

// Accepts one JSON object and nothing else.
class ObjectCheck final : public InSituJsonHandler<ObjectCheck> {
public:
    bool StartObject() {
        open();
        return true;
    }
    bool EndObject(SizeType) {
        close();
        return true;
    }
    bool Default() { return depth() > 0; }
    bool StartArray() { return depth() > 0; }
};

bool isJsonObject(const std::string& text) {
    ObjectCheck check;
    return InSituJson(text).parse(check) == InSituJson::Outcome::parsed;
}

std::string executableDirectory() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        return ".";
    }
    const std::string path(buffer, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Reads one frame until the deadline. If it has not fully arrived by then, the read
// side is shut down first and what the kernel already holds is taken: the server's
// write either landed before that (and counts) or fails (and it logs nothing).
Result<std::string> readAnswer(int fd, FrameConnection::Clock::time_point deadline) {
    std::string frame;
    size_t wanted = 4;
    bool cutOff = false;
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            frame.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (cutOff) {
                break;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - FrameConnection::Clock::now())
                                  .count();
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) == 0) {
                ::shutdown(fd, SHUT_RD);
                cutOff = true;
            }
            continue;
        } else if (errno != EINTR) {
            break;
        }
        if (frame.size() >= 4 && wanted == 4) {
            uint32_t network = 0;
            std::memcpy(&network, frame.data(), 4);
            const uint32_t length = ntohl(network);
            if (length == 0 || length > maxResponseBytes) {
                return Error{"answer size out of range: " + std::to_string(length)};
            }
            wanted = 4 + length;
        }
        if (wanted > 4 && frame.size() >= wanted) {
            return frame.substr(4, wanted - 4);
        }
    }
    return Error{cutOff ? "no answer in time" : "answer cut short"};
}

} // namespace

HookClient::Options HookClient::defaultOptions() {
    return Options{Paths::dataFile("hook.sock"), std::chrono::milliseconds(2000),
                   executableDirectory() + "/perchwell"};
}

bool HookClient::isForSocket(std::string_view input) {
    // Input that is no JSON object, or has no event name, is judged like the hook process
    // judges it: as "PreToolUse".
    return probe(input).outcome != EventNameProbe::Outcome::otherEvent;
}

Result<std::string> HookClient::ask(const std::string& input, const Options& options) {
    const auto deadline = FrameConnection::Clock::now() + options.timeout;
    // Non-blocking: a server whose backlog is full fails at once instead of hanging.
    UniqueFd fd = connectUnixSocket(options.socketPath, SOCK_NONBLOCK);
    if (!fd.valid()) {
        return Error{"connect " + options.socketPath + ": " + files::errnoText(errno)};
    }
    FrameConnection connection(fd.get(), deadline);
    if (!connection.writeFrame(input)) {
        return Error{"could not send the request"};
    }
    auto answer = readAnswer(fd.get(), deadline);
    if (!answer) {
        return answer.error();
    }
    if (!isJsonObject(*answer)) {
        return Error{"answer is not a JSON object"};
    }
    return answer;
}

std::optional<std::string> HookClient::answerFromApplication(const std::string& input,
                                                             const Options& options) {
    if (input.empty() || input.size() > maxRequestBytes || !isForSocket(input)) {
        return std::nullopt;
    }
    auto answer = ask(input, options);
    if (!answer) {
        return std::nullopt;
    }
    return std::move(*answer);
}

Error HookClient::execHook(const std::string& input, const std::string& executable) {
    // An anonymous in-memory file holds any size without a reader on the other end; a
    // pipe serves where memfd_create is refused, for input that fits its buffer.
    UniqueFd source(::memfd_create("perchwell-hook-input", MFD_CLOEXEC));
    if (source.valid()) {
        if (!files::writeAll(source.get(), input) || ::lseek(source.get(), 0, SEEK_SET) != 0) {
            return Error{"cannot fill the input file: " + files::errnoText(errno)};
        }
    } else {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return Error{"no memfd and no pipe: " + files::errnoText(errno)};
        }
        source.reset(ends[0]);
        UniqueFd writeEnd(ends[1]);
        if (static_cast<int>(input.size()) > ::fcntl(writeEnd.get(), F_GETPIPE_SZ) &&
            ::fcntl(writeEnd.get(), F_SETPIPE_SZ, static_cast<int>(input.size())) < 0) {
            return Error{"input too large for a pipe: " + files::errnoText(errno)};
        }
        if (!files::writeAll(writeEnd.get(), input)) {
            return Error{"cannot fill the input pipe: " + files::errnoText(errno)};
        }
    }
    if (::dup2(source.get(), STDIN_FILENO) < 0) {
        return Error{"dup2: " + files::errnoText(errno)};
    }
    char* const argv[] = {const_cast<char*>(executable.c_str()), const_cast<char*>("hook"), nullptr};
    ::execv(executable.c_str(), argv);
    return Error{"exec " + executable + ": " + files::errnoText(errno)};
}

std::string HookClient::failSafeAnswer(std::string_view input) {
    const EventNameProbe found = probe(input);
    if (found.outcome != EventNameProbe::Outcome::otherEvent) {
        return HookCommand::formatDecisionJSON(
            {"ask", "Perchwell: hook unavailable — defer to user", "hook-unavailable"});
    }
    return HookCommand::emptyAnswerJSON(found.eventName);
}

} // namespace perchwell
