#pragma once

#include "common/result.h"
#include "common/serial_executor.h"
#include "hooks/review_policy_level.h"
#include "workflow/jsonl_entry.h"
#include "workflow/project_scanner.h"
#include "workflow/session_card.h"
#include "workflow/sqlite_database.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace perchwell {

// The two kinds of store failure. Their texts are the Error messages the store returns:
// openFailed carries SQLite's message for the connection; execFailed one of
// "bootstrap [<code>]: <error>", "prepare: <error>", "step: <code>: <error>" or
// "<code>: <error> [sql: <statement>]".
namespace WorkflowStoreError {
inline Error openFailed(std::string message) {
    return Error{std::move(message)};
}
inline Error execFailed(std::string message) {
    return Error{std::move(message)};
}
} // namespace WorkflowStoreError

// The transcript database: projects, sessions with their read offsets, every user prompt
// and assistant turn, and the review policy per session. The only owner of its SQLite
// connection.
//
// Threads: every operation runs on the store's own SerialExecutor, one at a time, and
// every public operation is synchronous for its caller, which waits for the result
// (from inside a store task it runs at once). To not wait, wrap calls in async(): it
// returns a std::future, or hands the result to a callback on the store's executor.
//     auto cards = store.async([](WorkflowStore& s) { return s.listSessions(50); });
//     store.async([](WorkflowStore& s) { return s.totals(); }, [](Totals t) { ... });
class WorkflowStore {
public:
    // Seconds since the Unix epoch; tests inject their own.
    using Clock = std::function<double()>;

    struct DayCount {
        double day = 0; // local midnight that starts the day
        int64_t count = 0;
        bool operator==(const DayCount&) const = default;
    };
    struct ProjectActivity {
        std::string cwd;
        int64_t promptCount = 0;
        bool operator==(const ProjectActivity&) const = default;
    };
    struct Totals {
        int64_t projects = 0;
        int64_t sessions = 0;
        int64_t userPrompts = 0;
        int64_t assistantTurns = 0;
        bool operator==(const Totals&) const = default;
    };

    // "workflow.db" in the data directory.
    static std::string defaultPath();

    // Creates the parent directory (owner-only) and the database file (mode 0600) when
    // missing, opens it and runs the schema. Fails with the file system's error,
    // openFailed or execFailed.
    static Result<std::unique_ptr<WorkflowStore>> open(const std::string& path = defaultPath(),
                                                       Clock clock = {});
    ~WorkflowStore();
    WorkflowStore(const WorkflowStore&) = delete;
    WorkflowStore& operator=(const WorkflowStore&) = delete;

    // Inserts the project, or updates its cwd and last_seen.
    Result<void> upsertProject(const DiscoveredProject& project);
    // The byte offset already ingested of a session's file; 0 when unknown or on error.
    int64_t sessionOffset(const std::string& sessionId);
    // Stores a batch read from one file and its new offset in one transaction; on
    // failure nothing of it is stored. A record whose uuid is known is ignored.
    Result<void> ingest(const std::string& sessionId, const std::string& projectId,
                        const std::string& filePath, const std::vector<JSONLEntry>& entries,
                        int64_t newOffset);
    // What one file gave since its stored offset.
    struct IngestBatch {
        std::string sessionId;
        std::string projectId;
        std::string filePath;
        std::vector<JSONLEntry> entries;
        int64_t newOffset = 0;
    };
    // Several batches (of one file or of several) in one transaction: all or nothing.
    // A back-fill of many small files writes the shared indexes once, not once per file.
    Result<void> ingest(const std::vector<IngestBatch>& batches);
    Result<void> setSessionPolicy(const std::string& sessionId, ReviewPolicyLevel level);

    // Readers: an empty result when the query cannot run.
    std::vector<UserEntry> recentUserPrompts(int limit); // newest first
    std::vector<UserEntry> userPrompts(double since);    // oldest first
    // One entry per local calendar day, oldest first, today last, zero-filled.
    std::vector<DayCount> userPromptsByDay(int days);
    std::vector<ProjectActivity> projectActivity(double since); // busiest first
    Totals totals();
    std::vector<SessionCard> listSessions(int limit); // most recent activity first

    // From the last user prompt's permission mode (the working directory is not used).
    static SessionSource detectSource(const std::optional<std::string>& permissionMode,
                                      const std::optional<std::string>& cwd = std::nullopt);

    template <typename Op> auto async(Op op) {
        return executor_.submit([this, op = std::move(op)]() mutable { return op(*this); });
    }
    template <typename Op, typename Done> void async(Op op, Done done) {
        executor_.submit([this, op = std::move(op)]() mutable { return op(*this); }, std::move(done));
    }

private:
    WorkflowStore(SqliteDatabase db, Clock clock);

    template <typename F> auto onExecutor(F&& work) { return executor_.run(std::forward<F>(work)).get(); }

    int64_t nowMilliseconds() const;
    Result<void> exec(std::string_view sql, const std::function<void(SqliteStatement&)>& bind);
    int64_t scalarInt(std::string_view sql);
    std::vector<UserEntry> queryUserEntries(std::string_view sql,
                                            const std::function<void(SqliteStatement&)>& bind);
    struct BatchRef {
        const std::string* sessionId;
        const std::string* projectId;
        const std::string* filePath;
        const std::vector<JSONLEntry>* entries;
        int64_t newOffset;
    };
    Result<void> ingestLocked(const BatchRef* batches, size_t count);

    SqliteDatabase db_;
    Clock clock_;
    SerialExecutor executor_{"pw-store"}; // last: stops (and drains) before the connection closes
};

} // namespace perchwell
