#include "views/sessions_view_model.h"

#include "analytics/terminal_launch.h"
#include "common/system_log.h"
#include "common/utf8.h"
#include "hooks/hook_command.h"
#include "views/main_thread.h"

namespace perchwell {

SessionsViewModel::SessionsViewModel(WorkflowStore& store, QObject* parent)
    : QObject(parent), store_(store) {}

const char* SessionsViewModel::displayLabel(SessionSource source) {
    switch (source) {
    case SessionSource::cli:
        return "Terminal";
    case SessionSource::vscode:
        return "VS Code";
    case SessionSource::desktop:
        return "Desktop";
    case SessionSource::codex:
        return "Codex";
    case SessionSource::unknown:
        return "Unknown";
    }
    return "Unknown";
}

void SessionsViewModel::setSearchText(std::string text) {
    searchText_ = std::move(text);
    emit searchTextChanged();
}

void SessionsViewModel::reload() {
    isLoading_ = true;
    emit loadingChanged();
    store_.async([](WorkflowStore& store) { return store.listSessions(sessionLimit); },
                 [guard = QPointer(this)](std::vector<SessionCard> cards) {
                     deliverToMainThread(guard, [c = std::move(cards)](SessionsViewModel& m) mutable {
                         m.sessions_ = std::move(c);
                         m.isLoading_ = false;
                         emit m.sessionsChanged();
                         emit m.loadingChanged();
                     });
                 });
}

void SessionsViewModel::setPolicy(const std::string& sessionId, ReviewPolicyLevel level) {
    store_.async(
        [sessionId, level](WorkflowStore& store) { return store.setSessionPolicy(sessionId, level); },
        [guard = QPointer(this), sessionId, level](Result<void> written) {
            deliverToMainThread(guard, [sessionId, level, written](SessionsViewModel& m) {
                if (!written) {
                    systemlog::write("[Perchwell] setSessionPolicy failed: " + written.error().message);
                    return;
                }
                HookCommand::updateSessionPolicy(sessionId, level);
                m.reload();
            });
        });
}

std::vector<SessionCard> SessionsViewModel::filtered() const {
    if (searchText_.empty()) {
        return sessions_;
    }
    const std::string q = utf8::lowercased(searchText_);
    const auto has = [&](std::string_view field) {
        return utf8::lowercased(field).find(q) != std::string::npos;
    };
    std::vector<SessionCard> out;
    for (const auto& card : sessions_) {
        if (has(card.projectName) || has(card.sessionId) || (card.gitBranch && has(*card.gitBranch)) ||
            has(displayLabel(card.source))) {
            out.push_back(card);
        }
    }
    return out;
}

std::vector<SessionCard> SessionsViewModel::inColumn(SessionStatus status) const {
    auto cards = filtered();
    std::erase_if(cards, [status](const SessionCard& c) { return c.status != status; });
    return cards;
}

std::vector<std::pair<SessionSource, int64_t>> SessionsViewModel::sourceBreakdown() const {
    std::vector<std::pair<SessionSource, int64_t>> out;
    for (SessionSource source : {SessionSource::cli, SessionSource::vscode, SessionSource::desktop,
                                 SessionSource::codex, SessionSource::unknown}) {
        const auto n = std::count_if(sessions_.begin(), sessions_.end(),
                                     [source](const SessionCard& c) { return c.source == source; });
        if (n > 0) {
            out.emplace_back(source, n);
        }
    }
    return out;
}

std::string SessionsViewModel::launchHelpText(const std::string& cwd) {
    if (cwd.empty()) {
        return "No cwd recorded for this session";
    }
    return "Open Terminal in " + cwd + " and run: " + TerminalLaunch::claudeCommand;
}

void SessionsViewModel::launchClaudeSkipPermissions(const std::string& cwd) {
    const auto directory = TerminalLaunch::trimmedDirectory(cwd);
    if (!directory) {
        return;
    }
    if (const auto started = TerminalLaunch::launch(*directory); !started) {
        systemlog::write("[Perchwell] launchClaudeSkipPermissions failed: " + started.error().message);
    }
}

} // namespace perchwell
