#pragma once

#include "common/result.h"

#include <chrono>
#include <string>
#include <string_view>

namespace perchwell {

// The hook client run first by the installed hook command: it hands a "PreToolUse"
// event to the running application over the hook socket and prints the answer. Every
// failure, and every other event, ends with a non-zero status and nothing printed, so
// the command falls back to `perchwell hook`, which answers every event itself.
class HookClient {
public:
    static constexpr int exitAnswered = 0;
    static constexpr int exitFailed = 1;
    // Not 2: Claude Code reads status 2 from a hook as "block this tool use".
    static constexpr int exitNotForSocket = 3;

    struct Options {
        std::string socketPath;
        // For the whole exchange: connect, send, wait for the answer.
        std::chrono::milliseconds timeout{2000};
    };
    // The data directory's "hook.sock" and the default time-out.
    static Options defaultOptions();

    // False when the input names an event other than "PreToolUse"; the socket judges
    // every payload as "PreToolUse" and would answer such an event wrongly.
    static bool isForSocket(std::string_view input);

    // One request over the socket; the answer's text.
    static Result<std::string> ask(const std::string& input, const Options& options);

    // Reads the event from `inFd`, writes the answer and a line feed to `outFd`.
    static int run(int inFd, int outFd, const Options& options);
};

} // namespace perchwell
