#include "assist/tmux_pane_finder.h"

#include "common/file_util.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <set>
#include <sstream>
#include <unistd.h>

namespace perchwell {

namespace {

// Paths compare by what they name: "/a/b/" and a symbolic link to it are the same.
std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
        return resolved;
    }
    std::string out = path;
    while (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return out;
}

std::string readLink(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string paneList(const std::set<std::string>& panes) {
    std::string out;
    for (const auto& p : panes) {
        out += (out.empty() ? "" : ", ") + p;
    }
    return out;
}

} // namespace

bool TmuxPaneFinder::parseStat(const std::string& line, ProcessInfo& info) {
    // "pid (comm) state ppid pgrp session tty_nr tpgid ..."; comm may hold spaces and
    // parentheses, so it ends at the last ')'.
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    info.pid = std::atoi(line.c_str());
    info.comm = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 1));
    int session = 0, ttyNr = 0;
    if (!(rest >> info.state >> info.ppid >> info.pgrp >> session >> ttyNr >> info.tpgid)) {
        return false;
    }
    return info.pid > 0;
}

std::vector<TmuxPane> TmuxPaneFinder::parsePanes(const std::string& listing) {
    std::vector<TmuxPane> panes;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        TmuxPane pane;
        if (fields >> pane.panePid >> pane.paneId && pane.panePid > 0 && pane.paneId.starts_with('%')) {
            panes.push_back(pane);
        }
    }
    return panes;
}

PaneSearch TmuxPaneFinder::match(const std::map<int, ProcessInfo>& processes,
                                 const std::vector<TmuxPane>& panes, const std::string& cwd) {
    std::map<int, std::string> paneOfPid;
    for (const auto& pane : panes) {
        paneOfPid[pane.panePid] = pane.paneId;
    }
    const std::string target = canonical(cwd);
    std::set<std::string> foreground;
    std::set<std::string> background;
    bool anyClaude = false;
    for (const auto& [pid, process] : processes) {
        if (process.comm != "claude" || process.cwd.empty() || canonical(process.cwd) != target) {
            continue;
        }
        anyClaude = true;
        // Up the parents to the pane's own process (bounded: the table is a snapshot
        // and may hold a cycle of reused pids).
        std::string paneId;
        int current = pid;
        for (int depth = 0; depth < 64 && current > 1; ++depth) {
            if (auto it = paneOfPid.find(current); it != paneOfPid.end()) {
                paneId = it->second;
                break;
            }
            auto parent = processes.find(current);
            if (parent == processes.end()) {
                break;
            }
            current = parent->second.ppid;
        }
        if (paneId.empty()) {
            continue;
        }
        // What the pane's terminal runs in the foreground now: a stopped `claude`, or
        // one behind a shell, must not receive the line.
        const bool inFront = process.state != 'T' && process.state != 't' && process.tpgid > 0 &&
                             process.pgrp == process.tpgid;
        (inFront ? foreground : background).insert(paneId);
    }
    if (foreground.size() == 1) {
        return {PaneSearch::Outcome::found, *foreground.begin(), {}};
    }
    if (foreground.size() > 1) {
        return {PaneSearch::Outcome::several,
                {},
                "several tmux panes run claude in " + cwd + " (" + paneList(foreground) +
                    "), typing into none"};
    }
    if (!background.empty()) {
        return {PaneSearch::Outcome::notInFront,
                {},
                "claude in " + cwd + " is not in the foreground of its pane (" + paneList(background) + ")"};
    }
    return {PaneSearch::Outcome::none,
            {},
            anyClaude ? "claude in " + cwd + " does not run in a tmux pane" : "no claude process in " + cwd};
}

std::map<int, ProcessInfo> TmuxPaneFinder::readProcesses(bool withCwd) {
    std::map<int, ProcessInfo> processes;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(procRoot_.c_str()), ::closedir);
    if (!dir) {
        return processes;
    }
    while (dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string base = procRoot_ + "/" + name;
        auto stat = files::readFile(base + "/stat");
        ProcessInfo info;
        if (!stat || !parseStat(*stat, info)) {
            continue; // ended meanwhile
        }
        if (withCwd && info.comm == "claude") {
            info.cwd = readLink(base + "/cwd");
        }
        processes[info.pid] = std::move(info);
    }
    return processes;
}

PaneSearch TmuxPaneFinder::find(const std::string& cwd) {
    if (cwd.empty()) {
        return {PaneSearch::Outcome::none, {}, "the session's working directory is not known"};
    }
    auto listing = runner_.run({"tmux", "list-panes", "-a", "-F", "#{pane_pid} #{pane_id}"});
    if (!listing || listing->exitCode != 0) {
        return {PaneSearch::Outcome::none, {}, "no tmux server"};
    }
    return match(readProcesses(true), parsePanes(listing->out), cwd);
}

Result<void> TmuxPaneFinder::tmux(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "tmux");
    auto result = runner_.run(arguments);
    if (!result) {
        return result.error();
    }
    if (result->exitCode != 0) {
        return Error{"tmux " + arguments[1] + " exited with status " + std::to_string(result->exitCode)};
    }
    return {};
}

Result<void> TmuxPaneFinder::sendLiteral(const std::string& paneId, const std::string& text) {
    return tmux({"send-keys", "-t", paneId, "-l", "--", text});
}

Result<void> TmuxPaneFinder::sendEnter(const std::string& paneId) {
    return tmux({"send-keys", "-t", paneId, "Enter"});
}

} // namespace perchwell
