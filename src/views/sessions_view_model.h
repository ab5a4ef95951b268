#pragma once

#include "hooks/review_policy_level.h"
#include "workflow/session_card.h"
#include "workflow/workflow_store.h"

#include <QObject>

#include <string>
#include <utility>
#include <vector>

namespace perchwell {

// The Sessions board: the newest 100 sessions in three columns, filtered by a search
// text, counted by source, with a review policy per session. Main thread only.
class SessionsViewModel : public QObject {
    Q_OBJECT
public:
    explicit SessionsViewModel(WorkflowStore& store, QObject* parent = nullptr);

    static constexpr int sessionLimit = 100;

    const std::vector<SessionCard>& sessions() const { return sessions_; }
    bool isLoading() const { return isLoading_; }
    const std::string& searchText() const { return searchText_; }
    void setSearchText(std::string text);

    void reload();
    // The table first, then the policy file the hook reads, then a reload; a failed
    // table write is logged and changes neither.
    void setPolicy(const std::string& sessionId, ReviewPolicyLevel level);

    std::vector<SessionCard> activeSessions() const { return inColumn(SessionStatus::active); }
    std::vector<SessionCard> idleSessions() const { return inColumn(SessionStatus::idle); }
    std::vector<SessionCard> doneSessions() const { return inColumn(SessionStatus::done); }
    // Every loaded session (unfiltered) per source, in the board's source order.
    std::vector<std::pair<SessionSource, int64_t>> sourceBreakdown() const;

    // Tests set the loaded cards directly.
    void setCardsForTesting(std::vector<SessionCard> cards) { sessions_ = std::move(cards); }

    static const char* displayLabel(SessionSource source);
    // "Open Terminal in <dir> and run: claude --dangerously-skip-permissions".
    static std::string launchHelpText(const std::string& cwd);
    // Opens the user's terminal in `cwd` running claude without permission prompts;
    // nothing for a blank directory; a failure to start is logged.
    static void launchClaudeSkipPermissions(const std::string& cwd);

signals:
    void sessionsChanged();
    void loadingChanged();
    void searchTextChanged();

private:
    std::vector<SessionCard> filtered() const;
    std::vector<SessionCard> inColumn(SessionStatus status) const;

    WorkflowStore& store_;
    std::vector<SessionCard> sessions_;
    bool isLoading_ = false;
    std::string searchText_;
};

} // namespace perchwell
