#pragma once

#include "common/result.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// The installed hook command, one process: it reads the event once, hands a
// "PreToolUse" event to the running application over the hook socket and prints the
// answer; when the application does not answer in time, or the event is another one,
// it becomes `perchwell hook` (exec) with the same bytes on its standard input.
class HookClient {
public:
    struct Options {
        std::string socketPath;
        // For the whole exchange: connect, send, wait for the answer.
        std::chrono::milliseconds timeout{2000};
        // Run as `<hookExecutable> hook` when the application does not answer.
        std::string hookExecutable;
    };
    // The data directory's "hook.sock", the default time-out, `perchwell` beside this
    // executable.
    static Options defaultOptions();

    // False when the input names an event other than "PreToolUse"; the socket judges
    // every payload as "PreToolUse" and would answer such an event wrongly.
    static bool isForSocket(std::string_view input);

    // One request over the socket; the answer's text. An answer that has not fully
    // arrived by the deadline is refused to the server (read side shut down), so the
    // server logs exactly the answers that reach us.
    static Result<std::string> ask(const std::string& input, const Options& options);

    // The application's answer when it gives one in time.
    static std::optional<std::string> answerFromApplication(const std::string& input, const Options& options);

    // Replaces this process with `<executable> hook` reading `input` from an anonymous
    // in-memory file (or a pipe). Returns only when that fails.
    static Error execHook(const std::string& input, const std::string& executable);

    // What is printed when even the fallback cannot start: "ask" for a tool use, the
    // bare answer for any other event.
    static std::string failSafeAnswer(std::string_view input);
};

} // namespace perchwell
