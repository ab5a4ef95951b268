#include "hook_client.h"

#include "common/file_util.h"
#include "common/unique_fd.h"
#include "hooks/frame_connection.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace perchwell {
namespace {

// The socket refuses larger requests; such input goes to the fallback.
constexpr size_t maxRequestBytes = 2'097'152;
// Answers are a short JSON object; anything much larger is not one.
constexpr uint32_t maxResponseBytes = 65'536;

bool isJsonObject(const std::string& text) {
    return nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false).is_object();
}

// Finds the top-level "hook_event_name" and stops parsing there: hook inputs may be
// megabytes of tool input, and only this one member decides where the event goes.
class EventNameProbe final : public nlohmann::json_sax<nlohmann::json> {
public:
    enum class Outcome { undecided, preToolUse, otherEvent, noEventName };
    Outcome outcome = Outcome::undecided;

    bool null() override { return scalar(false); }
    bool boolean(bool) override { return scalar(false); }
    bool number_integer(number_integer_t) override { return scalar(false); }
    bool number_unsigned(number_unsigned_t) override { return scalar(false); }
    bool number_float(number_float_t, const string_t&) override { return scalar(false); }
    bool string(string_t& value) override { return scalar(value == "PreToolUse"); }
    bool binary(binary_t&) override { return scalar(false); }
    bool start_object(std::size_t) override { return open(); }
    bool start_array(std::size_t) override {
        // A top-level array is no hook input: decided like the hook process decides it.
        return depth_ == 0 ? false : open();
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& name) override {
        eventNameNext_ = depth_ == 1 && name == "hook_event_name";
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    bool scalar(bool isPreToolUse) {
        if (depth_ == 0) {
            return false; // a top-level scalar: no hook input either
        }
        if (eventNameNext_) {
            outcome = isPreToolUse ? Outcome::preToolUse : Outcome::otherEvent;
            return false;
        }
        return true;
    }
    bool open() {
        if (eventNameNext_) {
            outcome = Outcome::otherEvent;
            return false;
        }
        ++depth_;
        return true;
    }
    bool close() {
        if (--depth_ == 0) {
            outcome = Outcome::noEventName;
        }
        return true;
    }

    int depth_ = 0;
    bool eventNameNext_ = false;
};

} // namespace

HookClient::Options HookClient::defaultOptions() {
    return Options{Paths::dataFile("hook.sock")};
}

bool HookClient::isForSocket(std::string_view input) {
    EventNameProbe probe;
    nlohmann::json::sax_parse(input, &probe, nlohmann::json::input_format_t::json, /*strict=*/false);
    // Input that is no JSON object, or has no event name, is judged like the hook process
    // judges it: as "PreToolUse".
    return probe.outcome != EventNameProbe::Outcome::otherEvent;
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
    const auto input = files::readAll(inFd, maxRequestBytes);
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
    return files::writeAll(outFd, *answer + "\n") ? exitAnswered : exitFailed;
}

} // namespace perchwell
