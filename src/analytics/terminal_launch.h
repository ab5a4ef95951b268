#pragma once

#include "common/result.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// Opens a terminal in a session's directory running `claude --dangerously-skip-permissions`.
class TerminalLaunch {
public:
    static constexpr const char* claudeCommand = "claude --dangerously-skip-permissions";

    // Spaces and tabs trimmed from both ends; nothing when nothing is left.
    static std::optional<std::string> trimmedDirectory(std::string_view cwd);

    // The macOS Terminal script, four lines joined by line feeds.
    static std::string appleScript(std::string_view directory);
    // Backslashes doubled, then double quotes escaped, for an AppleScript string.
    static std::string escapeForAppleScript(std::string_view text);

    // The terminal to start: $TERMINAL when set, else x-terminal-emulator; it runs the
    // user's shell on `claude ...` in `directory`, which becomes its working directory.
    static std::vector<std::string> terminalCommand(const std::string& terminal);
    // Starts it detached in `directory` without waiting; fails when it cannot start.
    static Result<void> launch(const std::string& directory);
};

} // namespace perchwell
