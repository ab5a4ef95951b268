#pragma once

#include "common/result.h"
#include "platform/command_runner.h"

#include <map>
#include <string>
#include <vector>

namespace perchwell {

// One process as /proc shows it, with what the pane search needs.
struct ProcessInfo {
    int pid = 0;
    int ppid = 0;
    int pgrp = 0;
    int tpgid = -1; // foreground process group of its terminal, -1 without one
    char state = '?';
    std::string comm;
    std::string cwd; // empty when it cannot be read (another user's process)
};

struct TmuxPane {
    int panePid = 0;    // the pane's first process, usually a shell
    std::string paneId; // "%3"
};

// Where a session's `claude` runs: exactly one tmux pane, or why none is chosen.
// `none`: no pane runs it at all; `notInFront` and `several`: panes run it, but none
// may be typed into (and neither may the terminal in front, which is not the session's).
struct PaneSearch {
    enum class Outcome { found, none, notInFront, several };
    Outcome outcome = Outcome::none;
    std::string paneId; // found only
    std::string reason; // for the log when nothing was found
};

// Finds the tmux pane in which an idle session's `claude` runs in the foreground, so
// that "continue" reaches that session and nothing else, and types into it with tmux
// itself: no focus, display or keystroke permission involved.
class TmuxPaneFinder {
public:
    // `procRoot` is where the process table is read ("/proc").
    explicit TmuxPaneFinder(CommandRunner& runner, std::string procRoot = "/proc")
        : runner_(runner), procRoot_(std::move(procRoot)) {}

    // The pane whose foreground `claude` works in `cwd`.
    PaneSearch find(const std::string& cwd);

    // Types `text` literally (no key names), then, in a separate call, Enter: sent
    // together an interactive prompt may take the Return as part of a paste.
    Result<void> sendLiteral(const std::string& paneId, const std::string& text);
    Result<void> sendEnter(const std::string& paneId);

    // The matching itself, on a snapshot of the process table and the pane list.
    static PaneSearch match(const std::map<int, ProcessInfo>& processes, const std::vector<TmuxPane>& panes,
                            const std::string& cwd);
    // "1234 %3" lines of `tmux list-panes -a -F '#{pane_pid} #{pane_id}'`.
    static std::vector<TmuxPane> parsePanes(const std::string& listing);
    // One /proc/<pid>/stat line; false when it does not parse.
    static bool parseStat(const std::string& line, ProcessInfo& info);

private:
    std::map<int, ProcessInfo> readProcesses(bool withCwd);
    Result<void> tmux(std::vector<std::string> arguments);

    CommandRunner& runner_;
    std::string procRoot_;
};

} // namespace perchwell
