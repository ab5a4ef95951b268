#include "hook_client.h"

#include "common/file_util.h"
#include "common/unique_fd.h"
#include "hooks/frame_connection.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <simdjson.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace perchwell {
namespace {

// The socket refuses larger requests; such input goes to the fallback.
constexpr size_t maxRequestBytes = 2'097'152;
// Answers are a short JSON object; anything much larger is not one.
constexpr uint32_t maxResponseBytes = 65'536;

// All of `fd`, or nothing when it holds more than `limit` bytes or a read fails.
std::optional<std::string> readAll(int fd, size_t limit) {
    std::string data;
    char chunk[65'536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n == 0) {
            return data;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        data.append(chunk, static_cast<size_t>(n));
        if (data.size() > limit) {
            return std::nullopt;
        }
    }
}

bool writeAllTo(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool isJsonObject(const std::string& text) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    return parser.parse(text).get(root) == simdjson::SUCCESS && root.is_object();
}

} // namespace

HookClient::Options HookClient::defaultOptions() {
    return Options{Paths::dataFile("hook.sock")};
}

bool HookClient::isForSocket(std::string_view input) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    simdjson::dom::object object;
    // Input that is no JSON object is judged like the hook process judges it ("ask").
    if (parser.parse(input.data(), input.size()).get(root) != simdjson::SUCCESS || root.get(object)) {
        return true;
    }
    simdjson::dom::element event;
    if (object["hook_event_name"].get(event) != simdjson::SUCCESS) {
        return true;
    }
    std::string_view name;
    return event.get(name) == simdjson::SUCCESS && name == "PreToolUse";
}

Result<std::string> HookClient::ask(const std::string& input, const Options& options) {
    const auto deadline = FrameConnection::Clock::now() + options.timeout;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (options.socketPath.size() + 1 > sizeof(address.sun_path)) {
        return Error{"socket path too long: " + options.socketPath};
    }
    std::memcpy(address.sun_path, options.socketPath.c_str(), options.socketPath.size() + 1);
    // Non-blocking: a server whose backlog is full fails at once instead of hanging.
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) {
        return Error{"socket: " + files::errnoText(errno)};
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return Error{"connect " + options.socketPath + ": " + files::errnoText(errno)};
    }
    FrameConnection connection(fd.get(), deadline);
    if (!connection.writeFrame(input)) {
        return Error{"could not send the request"};
    }
    uint32_t length = 0;
    if (!connection.readU32BE(length)) {
        return Error{"no answer"};
    }
    if (length == 0 || length > maxResponseBytes) {
        return Error{"answer size out of range: " + std::to_string(length)};
    }
    std::string answer(length, '\0');
    if (!connection.readExact(answer.data(), length)) {
        return Error{"answer cut short"};
    }
    if (!isJsonObject(answer)) {
        return Error{"answer is not a JSON object"};
    }
    return answer;
}

int HookClient::run(int inFd, int outFd, const Options& options) {
    const auto input = readAll(inFd, maxRequestBytes);
    if (!input || input->empty()) {
        return exitFailed;
    }
    if (!isForSocket(*input)) {
        return exitNotForSocket;
    }
    const auto answer = ask(*input, options);
    if (!answer) {
        return exitFailed;
    }
    return writeAllTo(outFd, *answer + "\n") ? exitAnswered : exitFailed;
}

} // namespace perchwell
