#include "workflow/workflow_store.h"

#include "common/file_util.h"
#include "common/utf8.h"
#include "platform/paths.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace perchwell {
namespace {

// The thirteen statements run on every open; each is idempotent.
constexpr const char* kSchema[] = {
    "PRAGMA journal_mode=WAL;",
    "PRAGMA synchronous=NORMAL;",
    ("CREATE TABLE IF NOT EXISTS projects (\n"
     "    id          TEXT PRIMARY KEY,\n"
     "    cwd         TEXT NOT NULL,\n"
     "    first_seen  INTEGER NOT NULL,\n"
     "    last_seen   INTEGER NOT NULL\n"
     ");"),
    ("CREATE TABLE IF NOT EXISTS sessions (\n"
     "    id          TEXT PRIMARY KEY,\n"
     "    project_id  TEXT NOT NULL,\n"
     "    file_path   TEXT NOT NULL,\n"
     "    byte_offset INTEGER NOT NULL DEFAULT 0,\n"
     "    line_count  INTEGER NOT NULL DEFAULT 0,\n"
     "    first_ts    INTEGER,\n"
     "    last_ts     INTEGER\n"
     ");"),
    "CREATE INDEX IF NOT EXISTS idx_sessions_project ON sessions(project_id);",
    ("CREATE TABLE IF NOT EXISTS user_prompts (\n"
     "    uuid             TEXT PRIMARY KEY,\n"
     "    prompt_id        TEXT,\n"
     "    session_id       TEXT NOT NULL,\n"
     "    parent_uuid      TEXT,\n"
     "    ts               INTEGER NOT NULL,\n"
     "    cwd              TEXT,\n"
     "    git_branch       TEXT,\n"
     "    permission_mode  TEXT,\n"
     "    content          TEXT NOT NULL\n"
     ");"),
    "CREATE INDEX IF NOT EXISTS idx_user_prompts_session ON user_prompts(session_id);",
    "CREATE INDEX IF NOT EXISTS idx_user_prompts_ts ON user_prompts(ts);",
    "CREATE INDEX IF NOT EXISTS idx_user_prompts_cwd ON user_prompts(cwd);",
    ("CREATE TABLE IF NOT EXISTS assistant_turns (\n"
     "    uuid          TEXT PRIMARY KEY,\n"
     "    session_id    TEXT NOT NULL,\n"
     "    parent_uuid   TEXT,\n"
     "    ts            INTEGER NOT NULL,\n"
     "    cwd           TEXT,\n"
     "    git_branch    TEXT,\n"
     "    text_content  TEXT NOT NULL,\n"
     "    tool_uses     TEXT NOT NULL\n"
     ");"),
    "CREATE INDEX IF NOT EXISTS idx_assistant_turns_session ON assistant_turns(session_id);",
    "CREATE INDEX IF NOT EXISTS idx_assistant_turns_ts ON assistant_turns(ts);",
    ("CREATE TABLE IF NOT EXISTS session_policies (\n"
     "    session_id  TEXT PRIMARY KEY,\n"
     "    level       TEXT NOT NULL DEFAULT 'global',\n"
     "    updated_at  INTEGER NOT NULL\n"
     ");"),
};

constexpr std::string_view kUpsertProject =
    "INSERT INTO projects (id, cwd, first_seen, last_seen)\nVALUES (?, ?, ?, ?)\n"
    "ON CONFLICT(id) DO UPDATE SET cwd = excluded.cwd, last_seen = excluded.last_seen";
constexpr std::string_view kSessionOffset = "SELECT byte_offset FROM sessions WHERE id = ?";
constexpr std::string_view kIngestSession =
    "INSERT INTO sessions (id, project_id, file_path, byte_offset, line_count, first_ts, last_ts)\n"
    "VALUES (?, ?, ?, ?, ?, ?, ?)\n"
    "ON CONFLICT(id) DO UPDATE SET\n"
    "    project_id  = excluded.project_id,\n"
    "    file_path   = excluded.file_path,\n"
    "    byte_offset = excluded.byte_offset,\n"
    "    line_count  = sessions.line_count + excluded.line_count,\n"
    "    first_ts    = COALESCE(sessions.first_ts, excluded.first_ts),\n"
    "    last_ts     = COALESCE(excluded.last_ts, sessions.last_ts)";
constexpr std::string_view kInsertUserPrompt =
    "INSERT OR IGNORE INTO user_prompts\n"
    "    (uuid, prompt_id, session_id, parent_uuid, ts, cwd, git_branch,\n"
    "     permission_mode, content)\n"
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr std::string_view kInsertAssistantTurn =
    "INSERT OR IGNORE INTO assistant_turns\n"
    "    (uuid, session_id, parent_uuid, ts, cwd, git_branch, text_content, tool_uses)\n"
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
constexpr std::string_view kRecentUserPrompts =
    "SELECT uuid, prompt_id, session_id, parent_uuid, ts, cwd, git_branch,\n"
    "       permission_mode, content\n"
    "  FROM user_prompts\n"
    " ORDER BY ts DESC LIMIT ?";
constexpr std::string_view kUserPromptsSince =
    "SELECT uuid, prompt_id, session_id, parent_uuid, ts, cwd, git_branch,\n"
    "       permission_mode, content\n"
    "  FROM user_prompts\n"
    " WHERE ts >= ?\n"
    " ORDER BY ts ASC";
constexpr std::string_view kPromptTimesSince = "SELECT ts FROM user_prompts WHERE ts >= ? ORDER BY ts ASC";
constexpr std::string_view kProjectActivity = "SELECT COALESCE(cwd, '<unknown>') AS k, COUNT(*) AS c\n"
                                              "  FROM user_prompts\n"
                                              " WHERE ts >= ?\n"
                                              " GROUP BY k\n"
                                              " ORDER BY c DESC";
constexpr std::string_view kListSessions =
    "SELECT\n"
    "    s.id,\n"
    "    s.project_id,\n"
    "    COALESCE(p.cwd, '') AS cwd,\n"
    "    COALESCE(sp.level, 'global') AS policy_level,\n"
    "    s.first_ts,\n"
    "    s.last_ts,\n"
    "    (SELECT COUNT(*) FROM user_prompts WHERE session_id = s.id) AS prompt_count,\n"
    "    (SELECT COUNT(*) FROM assistant_turns WHERE session_id = s.id) AS turn_count,\n"
    "    (SELECT git_branch FROM user_prompts WHERE session_id = s.id ORDER BY ts DESC LIMIT 1) AS "
    "git_branch,\n"
    "    (SELECT permission_mode FROM user_prompts WHERE session_id = s.id ORDER BY ts DESC LIMIT 1) AS "
    "perm_mode\n"
    "FROM sessions s\n"
    "LEFT JOIN projects p ON s.project_id = p.id\n"
    "LEFT JOIN session_policies sp ON s.id = sp.session_id\n"
    "ORDER BY COALESCE(s.last_ts, s.first_ts) DESC\n"
    "LIMIT ?";
constexpr std::string_view kSetSessionPolicy =
    "INSERT INTO session_policies (session_id, level, updated_at)\n"
    "VALUES (?, ?, ?)\n"
    "ON CONFLICT(session_id) DO UPDATE SET\n"
    "    level = excluded.level,\n"
    "    updated_at = excluded.updated_at";

double systemNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Seconds × 1000 truncated toward zero. The nudge keeps 09:30:15.123 at 123 ms although
// the double holding it may sit a hair below.
int64_t toMilliseconds(double instant) {
    const double ms = instant * 1000.0;
    return static_cast<int64_t>(std::trunc(ms + (ms >= 0 ? 1e-3 : -1e-3)));
}

std::string toolUsesJson(const std::vector<std::string>& tools) {
    try {
        return nlohmann::json(tools).dump();
    } catch (const nlohmann::json::exception&) {
        return "[]";
    }
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out.push_back(c);
        if (c == '\'') {
            out.push_back('\'');
        }
    }
    out.push_back('\'');
    return out;
}

// Local midnight starting the day that contains `t`, moved by `days` calendar days;
// nothing when that date cannot be formed.
std::optional<time_t> localMidnight(time_t t, int days = 0) {
    tm local{};
    if (::localtime_r(&t, &local) == nullptr) {
        return std::nullopt;
    }
    local.tm_mday += days;
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    const time_t midnight = ::mktime(&local);
    if (midnight == static_cast<time_t>(-1)) {
        return std::nullopt;
    }
    return midnight;
}

std::string lastPathComponent(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && path[end - 1] == '/') {
        --end;
    }
    const size_t slash = path.rfind('/', end == 0 ? 0 : end - 1);
    const size_t begin = slash == std::string::npos ? 0 : slash + 1;
    return begin >= end ? std::string() : path.substr(begin, end - begin);
}

// The database holds every prompt: create it owner-only before SQLite does (SQLite
// gives its -wal and -shm files the database's permissions).
Result<void> createPrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    if (errno == EEXIST) {
        return {};
    }
    return Error{"cannot create " + path + ": " + files::errnoText(errno)};
}

} // namespace

std::string WorkflowStore::defaultPath() {
    return Paths::dataFile("workflow.db");
}

Result<std::unique_ptr<WorkflowStore>> WorkflowStore::open(const std::string& path, Clock clock) {
    if (auto r = files::ensureDirectory(files::parentDirectory(path), Paths::dataDirectoryMode); !r) {
        return r.error();
    }
    if (auto r = createPrivateFile(path); !r) {
        return r.error();
    }
    auto db = SqliteDatabase::open(path);
    if (!db) {
        return WorkflowStoreError::openFailed(db.error().message);
    }
    for (const char* statement : kSchema) {
        if (auto failure = db->execDetailed(statement)) {
            return WorkflowStoreError::execFailed("bootstrap [" + std::to_string(failure->code) +
                                                  "]: " + failure->message);
        }
    }
    // Connection settings, not schema: a back-fill writes thousands of records per
    // transaction into random places of the uuid indexes. A 16 MiB page cache keeps
    // those pages from being re-read, and checkpointing every ~40 MB of WAL instead of
    // every 4 MB writes (and syncs) each hot page far less often. A failure only costs speed.
    for (const char* tuning : {"PRAGMA cache_size=-16384;", "PRAGMA wal_autocheckpoint=10000;"}) {
        (void)db->execDetailed(tuning);
    }
    return std::unique_ptr<WorkflowStore>(new WorkflowStore(std::move(*db), std::move(clock)));
}

WorkflowStore::WorkflowStore(SqliteDatabase db, Clock clock)
    : db_(std::move(db)), clock_(clock ? std::move(clock) : Clock(systemNow)) {}

WorkflowStore::~WorkflowStore() = default;

int64_t WorkflowStore::nowMilliseconds() const {
    return toMilliseconds(clock_());
}

Result<void> WorkflowStore::exec(std::string_view sql, const std::function<void(SqliteStatement&)>& bind) {
    auto stmt = db_.prepare(sql);
    if (!stmt) {
        return WorkflowStoreError::execFailed(stmt.error().message);
    }
    bind(*stmt);
    return stmt->execute();
}

int64_t WorkflowStore::scalarInt(std::string_view sql) {
    auto stmt = db_.prepare(sql);
    if (!stmt || stmt->step() != SQLITE_ROW) {
        return 0;
    }
    return stmt->int32(0);
}

Result<void> WorkflowStore::upsertProject(const DiscoveredProject& project) {
    return onExecutor([&] {
        const int64_t now = nowMilliseconds();
        return exec(kUpsertProject, [&](SqliteStatement& s) {
            s.bind(1, std::string_view(project.directoryName));
            s.bind(2, std::string_view(project.cwd));
            s.bind(3, now);
            s.bind(4, now);
        });
    });
}

int64_t WorkflowStore::sessionOffset(const std::string& sessionId) {
    return onExecutor([&]() -> int64_t {
        auto stmt = db_.prepare(kSessionOffset);
        if (!stmt) {
            return 0;
        }
        stmt->bind(1, std::string_view(sessionId));
        return stmt->step() == SQLITE_ROW ? stmt->int64(0) : 0;
    });
}

Result<void> WorkflowStore::ingest(const std::string& sessionId, const std::string& projectId,
                                   const std::string& filePath, const std::vector<JSONLEntry>& entries,
                                   int64_t newOffset) {
    return onExecutor([&] {
        const BatchRef batch{&sessionId, &projectId, &filePath, &entries, newOffset};
        return ingestLocked(&batch, 1);
    });
}

Result<void> WorkflowStore::ingest(const std::vector<IngestBatch>& batches) {
    return onExecutor([&] {
        std::vector<BatchRef> refs;
        refs.reserve(batches.size());
        for (const auto& b : batches) {
            refs.push_back(BatchRef{&b.sessionId, &b.projectId, &b.filePath, &b.entries, b.newOffset});
        }
        return ingestLocked(refs.data(), refs.size());
    });
}

Result<void> WorkflowStore::ingestLocked(const BatchRef* batches, size_t count) {
    auto transaction = SqliteTransaction::begin(db_);
    if (!transaction) {
        return WorkflowStoreError::execFailed(transaction.error().message);
    }
    // Each statement is prepared once for the whole call, not once per record.
    std::optional<SqliteStatement> sessionRow, insertUser, insertAssistant;
    auto prepared = [this](std::optional<SqliteStatement>& stmt, std::string_view sql) -> Result<void> {
        if (!stmt) {
            auto fresh = db_.prepare(sql);
            if (!fresh) {
                return WorkflowStoreError::execFailed(fresh.error().message);
            }
            stmt.emplace(std::move(*fresh));
        }
        stmt->reset();
        return {};
    };

    std::vector<const std::string*> projects;
    for (const BatchRef* batch = batches; batch != batches + count; ++batch) {
        const auto& entries = *batch->entries;
        // ingestSessionRow: the earliest and latest user/assistant timestamps of the batch.
        std::optional<int64_t> first, last;
        for (const auto& entry : entries) {
            std::optional<int64_t> ts;
            if (const auto* user = std::get_if<UserEntry>(&entry)) {
                ts = toMilliseconds(user->timestamp);
            } else if (const auto* assistant = std::get_if<AssistantEntry>(&entry)) {
                ts = toMilliseconds(assistant->timestamp);
            }
            if (ts) {
                first = first ? std::min(*first, *ts) : *ts;
                last = last ? std::max(*last, *ts) : *ts;
            }
        }
        if (auto r = prepared(sessionRow, kIngestSession); !r) {
            return r;
        }
        sessionRow->bind(1, std::string_view(*batch->sessionId));
        sessionRow->bind(2, std::string_view(*batch->projectId));
        sessionRow->bind(3, std::string_view(*batch->filePath));
        sessionRow->bind(4, batch->newOffset);
        sessionRow->bind(5, static_cast<int64_t>(entries.size()));
        sessionRow->bind(6, first);
        sessionRow->bind(7, last);
        if (auto r = sessionRow->execute(); !r) {
            return r;
        }

        for (const auto& entry : entries) {
            Result<void> written;
            if (const auto* user = std::get_if<UserEntry>(&entry)) {
                if (auto r = prepared(insertUser, kInsertUserPrompt); !r) {
                    return r;
                }
                SqliteStatement& s = *insertUser;
                s.bind(1, std::string_view(user->uuid));
                s.bind(2, user->promptId);
                s.bind(3, std::string_view(user->sessionId));
                s.bind(4, user->parentUuid);
                s.bind(5, toMilliseconds(user->timestamp));
                s.bind(6, user->cwd);
                s.bind(7, user->gitBranch);
                s.bind(8, user->permissionMode);
                s.bind(9, std::string_view(user->content));
                written = s.execute();
            } else if (const auto* assistant = std::get_if<AssistantEntry>(&entry)) {
                if (auto r = prepared(insertAssistant, kInsertAssistantTurn); !r) {
                    return r;
                }
                SqliteStatement& s = *insertAssistant;
                s.bind(1, std::string_view(assistant->uuid));
                s.bind(2, std::string_view(assistant->sessionId));
                s.bind(3, assistant->parentUuid);
                s.bind(4, toMilliseconds(assistant->timestamp));
                s.bind(5, assistant->cwd);
                s.bind(6, assistant->gitBranch);
                s.bind(7, std::string_view(assistant->textContent));
                s.bind(8, std::string_view(toolUsesJson(assistant->toolUses)));
                written = s.execute();
            }
            if (!written) {
                return written;
            }
        }
        if (std::none_of(projects.begin(), projects.end(),
                         [&](auto* p) { return *p == *batch->projectId; })) {
            projects.push_back(batch->projectId);
        }
    }

    for (const std::string* projectId : projects) {
        if (auto r = db_.execRaw("UPDATE projects SET last_seen = " + std::to_string(nowMilliseconds()) +
                                 " WHERE id = " + quoted(*projectId) + ";");
            !r) {
            return r;
        }
    }
    return transaction->commit();
}

Result<void> WorkflowStore::setSessionPolicy(const std::string& sessionId, ReviewPolicyLevel level) {
    return onExecutor([&] {
        return exec(kSetSessionPolicy, [&](SqliteStatement& s) {
            s.bind(1, std::string_view(sessionId));
            s.bind(2, toString(level));
            s.bind(3, nowMilliseconds());
        });
    });
}

std::vector<UserEntry> WorkflowStore::queryUserEntries(std::string_view sql,
                                                       const std::function<void(SqliteStatement&)>& bind) {
    std::vector<UserEntry> entries;
    auto stmt = db_.prepare(sql);
    if (!stmt) {
        return entries;
    }
    bind(*stmt);
    while (stmt->step() == SQLITE_ROW) {
        UserEntry e;
        e.uuid = stmt->text(0);
        e.promptId = stmt->optionalText(1);
        e.sessionId = stmt->text(2);
        e.parentUuid = stmt->optionalText(3);
        e.timestamp = static_cast<double>(stmt->int64(4)) / 1000.0;
        e.cwd = stmt->optionalText(5);
        e.gitBranch = stmt->optionalText(6);
        e.permissionMode = stmt->optionalText(7);
        e.content = stmt->text(8);
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<UserEntry> WorkflowStore::recentUserPrompts(int limit) {
    return onExecutor([&] {
        return queryUserEntries(kRecentUserPrompts, [&](SqliteStatement& s) { s.bindInt32(1, limit); });
    });
}

std::vector<UserEntry> WorkflowStore::userPrompts(double since) {
    return onExecutor([&] {
        return queryUserEntries(kUserPromptsSince,
                                [&](SqliteStatement& s) { s.bind(1, toMilliseconds(since)); });
    });
}

std::vector<WorkflowStore::DayCount> WorkflowStore::userPromptsByDay(int days) {
    return onExecutor([&] {
        std::vector<DayCount> result;
        if (days <= 0) {
            return result;
        }
        ::tzset(); // pick up a changed time zone, as the user's calendar would
        const auto now = static_cast<time_t>(std::floor(clock_()));
        // days + 1 consecutive local midnights bound the days, the last one ending today.
        std::vector<std::optional<time_t>> bounds;
        for (int i = 0; i <= days; ++i) {
            bounds.push_back(localMidnight(now, i - days + 1));
        }
        if (!bounds.front()) {
            return result;
        }
        auto stmt = db_.prepare(kPromptTimesSince);
        if (!stmt) {
            return result;
        }
        stmt->bind(1, static_cast<int64_t>(*bounds.front()) * 1000);
        std::vector<int64_t> counts(static_cast<size_t>(days), 0);
        size_t day = 0;
        while (stmt->step() == SQLITE_ROW) {
            const int64_t ts = stmt->int64(0);
            // Rows come oldest first: move on to the day that holds this prompt.
            while (day < counts.size() && bounds[day + 1] &&
                   ts >= static_cast<int64_t>(*bounds[day + 1]) * 1000) {
                ++day;
            }
            if (day == counts.size()) {
                break; // after today (a clock set back, say)
            }
            ++counts[day];
        }
        for (size_t i = 0; i < counts.size(); ++i) {
            if (bounds[i]) {
                result.push_back(DayCount{static_cast<double>(*bounds[i]), counts[i]});
            }
        }
        return result;
    });
}

std::vector<WorkflowStore::ProjectActivity> WorkflowStore::projectActivity(double since) {
    return onExecutor([&] {
        std::vector<ProjectActivity> result;
        auto stmt = db_.prepare(kProjectActivity);
        if (!stmt) {
            return result;
        }
        stmt->bind(1, toMilliseconds(since));
        while (stmt->step() == SQLITE_ROW) {
            result.push_back(ProjectActivity{stmt->optionalText(0).value_or("<unknown>"), stmt->int64(1)});
        }
        return result;
    });
}

WorkflowStore::Totals WorkflowStore::totals() {
    return onExecutor([&] {
        return Totals{scalarInt("SELECT COUNT(*) FROM projects"), scalarInt("SELECT COUNT(*) FROM sessions"),
                      scalarInt("SELECT COUNT(*) FROM user_prompts"),
                      scalarInt("SELECT COUNT(*) FROM assistant_turns")};
    });
}

std::vector<SessionCard> WorkflowStore::listSessions(int limit) {
    return onExecutor([&] {
        std::vector<SessionCard> cards;
        const double now = clock_();
        auto stmt = db_.prepare(kListSessions);
        if (!stmt) {
            return cards;
        }
        stmt->bindInt32(1, limit);
        while (stmt->step() == SQLITE_ROW) {
            SessionCard card;
            card.sessionId = stmt->text(0);
            card.projectId = stmt->text(1);
            card.cwd = stmt->text(2);
            card.policy = reviewPolicyLevelFromString(stmt->text(3)).value_or(ReviewPolicyLevel::global);
            if (!stmt->isNull(4) && stmt->int64(4) >= 1) {
                card.firstActivity = static_cast<double>(stmt->int64(4)) / 1000.0;
            }
            if (!stmt->isNull(5) && stmt->int64(5) >= 1) {
                card.lastActivity = static_cast<double>(stmt->int64(5)) / 1000.0;
            }
            card.promptCount = stmt->int64(6);
            card.turnCount = stmt->int64(7);
            card.gitBranch = stmt->optionalText(8);
            card.source = detectSource(stmt->optionalText(9));
            if (!card.lastActivity) {
                card.status = SessionStatus::done;
            } else {
                const double age = now - *card.lastActivity;
                card.status = age < 300    ? SessionStatus::active
                              : age < 3600 ? SessionStatus::idle
                                           : SessionStatus::done;
            }
            card.projectName = lastPathComponent(card.cwd);
            if (card.projectName.empty()) {
                card.projectName = card.cwd;
            }
            cards.push_back(std::move(card));
        }
        return cards;
    });
}

SessionSource WorkflowStore::detectSource(const std::optional<std::string>& permissionMode,
                                          const std::optional<std::string>&) {
    if (!permissionMode) {
        return SessionSource::cli;
    }
    const std::string mode = utf8::lowercased(*permissionMode);
    if (mode.find("codex") != std::string::npos) {
        return SessionSource::codex;
    }
    if (mode.find("vscode") != std::string::npos || mode.find("vs-code") != std::string::npos) {
        return SessionSource::vscode;
    }
    if (mode.find("desktop") != std::string::npos) {
        return SessionSource::desktop;
    }
    return SessionSource::cli;
}

} // namespace perchwell
