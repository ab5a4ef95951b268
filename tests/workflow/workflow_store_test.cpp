#include "platform/paths.h"
#include "support/temp_home.h"
#include "workflow/workflow_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace perchwell {
namespace {

using testing::makeTempDir;
using testing::removeTree;

constexpr double kNow = 1748770215.0; // 2025-06-01T09:30:15Z

// A second connection, as another process would have.
class RawDb {
public:
    explicit RawDb(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
    ~RawDb() { sqlite3_close(db_); }
    void exec(const std::string& sql) {
        ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    }
    std::optional<int64_t> scalar(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr);
        std::optional<int64_t> v;
        if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL) {
            v = sqlite3_column_int64(stmt, 0);
        }
        sqlite3_finalize(stmt);
        return v;
    }

private:
    sqlite3* db_ = nullptr;
};

UserEntry user(const std::string& uuid, double ts, const std::string& session = "s1") {
    return UserEntry{uuid, "p-" + uuid, session, ts, "/w", "main", "prompt " + uuid, "default", std::nullopt};
}

AssistantEntry assistant(const std::string& uuid, double ts, std::vector<std::string> tools = {},
                         const std::string& session = "s1") {
    return AssistantEntry{uuid, session, ts, "/w", std::nullopt, "answer " + uuid, std::move(tools), "u"};
}

class WorkflowStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = makeTempDir("pw-store");
        path_ = dir_ + "/db/workflow.db";
        store_ = openStore();
    }
    void TearDown() override {
        store_.reset();
        removeTree(dir_);
    }
    std::unique_ptr<WorkflowStore> openStore() {
        auto opened = WorkflowStore::open(path_, [this] { return now_; });
        EXPECT_TRUE(opened) << opened.error().message;
        return opened ? std::move(*opened) : nullptr;
    }
    void ingestOk(const std::vector<JSONLEntry>& entries, int64_t offset, const std::string& session = "s1") {
        auto r = store_->ingest(session, "proj", "/root/proj/" + session + ".jsonl", entries, offset);
        ASSERT_TRUE(r) << r.error().message;
    }

    std::string dir_, path_;
    double now_ = kNow;
    std::unique_ptr<WorkflowStore> store_;
};

TEST_F(WorkflowStoreTest, CreatesPrivateFilesAndReopensUnchanged) {
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir_ + "/db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ASSERT_TRUE(store_->upsertProject({"proj", "/proj", "", {}}));
    ingestOk({user("u1", kNow)}, 10);
    const auto schemaObjects = RawDb(path_).scalar("SELECT COUNT(*) FROM sqlite_master");
    EXPECT_EQ(RawDb(path_).scalar("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'"), 5);
    EXPECT_EQ(RawDb(path_).scalar("SELECT COUNT(*) FROM sqlite_master WHERE name LIKE 'idx_%'"), 6);
    store_ = openStore();
    store_ = openStore();
    EXPECT_EQ(store_->totals(), (WorkflowStore::Totals{1, 1, 1, 0}));
    EXPECT_EQ(store_->sessionOffset("s1"), 10);
    EXPECT_EQ(store_->sessionOffset("unknown"), 0);
    EXPECT_EQ(RawDb(path_).scalar("SELECT COUNT(*) FROM sqlite_master"), schemaObjects);
    EXPECT_EQ(RawDb(path_).scalar("SELECT COUNT(*) FROM pragma_journal_mode WHERE journal_mode = 'wal'"), 1);
}

TEST_F(WorkflowStoreTest, DefaultPathIsInTheDataDirectory) {
    testing::TempHome home;
    EXPECT_EQ(WorkflowStore::defaultPath(), Paths::dataDirectory() + "/workflow.db");
    auto opened = WorkflowStore::open();
    ASSERT_TRUE(opened);
    struct stat st {};
    ASSERT_EQ(::stat(Paths::dataDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(WorkflowStoreTest, OpenFailures) {
    testing::writeFile(dir_ + "/plain", "x");
    auto noDir = WorkflowStore::open(dir_ + "/plain/sub/workflow.db");
    ASSERT_FALSE(noDir);

    testing::writeFile(dir_ + "/garbage.db", std::string(4096, 'g'));
    auto garbage = WorkflowStore::open(dir_ + "/garbage.db");
    ASSERT_FALSE(garbage);
    EXPECT_EQ(garbage.error().message, "bootstrap [26]: file is not a database");
}

TEST_F(WorkflowStoreTest, WaitsForAnotherConnectionsBriefLock) {
    // Another process holding the write lock for a moment (a reader's query, the
    // sqlite3 shell) must not fail the open at launch or a later ingest.
    const std::string busyPath = dir_ + "/busy.db";
    for (const bool existing : {false, true}) {
        if (existing) {
            ASSERT_TRUE(WorkflowStore::open(busyPath));
        }
        RawDb other(busyPath);
        other.exec("BEGIN EXCLUSIVE");
        std::thread release([&other] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            other.exec("COMMIT");
        });
        auto opened = WorkflowStore::open(busyPath);
        release.join();
        ASSERT_TRUE(opened) << opened.error().message;
        other.exec("BEGIN EXCLUSIVE");
        std::thread releaseAgain([&other] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            other.exec("COMMIT");
        });
        auto ingested = (*opened)->ingest("s1", "proj", "/root/proj/s1.jsonl", {user("u1", kNow)}, 10);
        releaseAgain.join();
        EXPECT_TRUE(ingested) << (ingested ? "" : ingested.error().message);
    }
}

TEST_F(WorkflowStoreTest, IngestTwiceStoresEachRecordOnce) {
    const std::vector<JSONLEntry> batch = {user("u1", kNow - 10), assistant("a1", kNow - 5, {"Read", "Edit"}),
                                           OtherEntry{"summary"}, user("u2", kNow - 20)};
    ingestOk(batch, 100);
    ingestOk(batch, 250);
    RawDb raw(path_);
    EXPECT_EQ(store_->totals(), (WorkflowStore::Totals{0, 1, 2, 1}));
    EXPECT_EQ(raw.scalar("SELECT line_count FROM sessions WHERE id='s1'"), 8);
    EXPECT_EQ(raw.scalar("SELECT byte_offset FROM sessions WHERE id='s1'"), 250);
    EXPECT_EQ(raw.scalar("SELECT first_ts FROM sessions"), int64_t(kNow * 1000) - 20000);
    EXPECT_EQ(raw.scalar("SELECT last_ts FROM sessions"), int64_t(kNow * 1000) - 5000);
    EXPECT_EQ(raw.scalar("SELECT COUNT(*) FROM assistant_turns WHERE tool_uses='[\"Read\",\"Edit\"]'"), 1);

    // A later batch keeps first_ts and moves last_ts; a batch of only other lines keeps both.
    ingestOk({user("u3", kNow - 30), user("u4", kNow)}, 300);
    ingestOk({OtherEntry{"system"}}, 320);
    EXPECT_EQ(raw.scalar("SELECT first_ts FROM sessions"), int64_t(kNow * 1000) - 20000);
    EXPECT_EQ(raw.scalar("SELECT last_ts FROM sessions"), int64_t(kNow * 1000));
    EXPECT_EQ(raw.scalar("SELECT line_count FROM sessions"), 11);
    EXPECT_EQ(store_->sessionOffset("s1"), 320);
}

TEST_F(WorkflowStoreTest, OtherOnlyBatchOnNewSession) {
    ingestOk({OtherEntry{"summary"}, OtherEntry{"summary"}}, 77, "s2");
    RawDb raw(path_);
    EXPECT_EQ(raw.scalar("SELECT byte_offset FROM sessions WHERE id='s2'"), 77);
    EXPECT_EQ(raw.scalar("SELECT line_count FROM sessions WHERE id='s2'"), 2);
    EXPECT_FALSE(raw.scalar("SELECT first_ts FROM sessions WHERE id='s2'"));
    EXPECT_FALSE(raw.scalar("SELECT last_ts FROM sessions WHERE id='s2'"));
    EXPECT_EQ(store_->totals().userPrompts, 0);
}

TEST_F(WorkflowStoreTest, ProjectUpsertAndQuotedId) {
    now_ = 1000;
    ASSERT_TRUE(store_->upsertProject({"-home-o'brien", "/home/o'brien", "", {}}));
    now_ = 2000;
    ASSERT_TRUE(store_->upsertProject({"-home-o'brien", "/home/o/brien", "", {}}));
    now_ = 3000;
    ASSERT_TRUE(store_->ingest("s", "-home-o'brien", "/f", {user("u", 5)}, 1));
    RawDb raw(path_);
    EXPECT_EQ(raw.scalar("SELECT first_seen FROM projects"), 1000000);
    EXPECT_EQ(raw.scalar("SELECT last_seen FROM projects"), 3000000);
    EXPECT_EQ(raw.scalar("SELECT COUNT(*) FROM projects WHERE cwd='/home/o/brien'"), 1);
}

TEST_F(WorkflowStoreTest, FailingWriteRollsBackTheWholeBatch) {
    ingestOk({user("u0", kNow)}, 50);
    RawDb(path_).exec("CREATE TRIGGER refuse BEFORE INSERT ON assistant_turns WHEN NEW.uuid = 'bad' "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    auto r = store_->ingest("s1", "proj", "/f", {user("u1", kNow), assistant("bad", kNow)}, 90);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message, "step: 19: refused");
    EXPECT_EQ(store_->sessionOffset("s1"), 50);
    EXPECT_EQ(store_->totals(), (WorkflowStore::Totals{0, 1, 1, 0}));
    EXPECT_EQ(RawDb(path_).scalar("SELECT line_count FROM sessions"), 1);
    // The connection is usable again afterwards.
    ingestOk({user("u1", kNow)}, 90);
    EXPECT_EQ(store_->sessionOffset("s1"), 90);
}

TEST_F(WorkflowStoreTest, BatchesOfSeveralFilesCommitTogetherOrNotAtAll) {
    RawDb(path_).exec("CREATE TRIGGER refuse BEFORE INSERT ON user_prompts WHEN NEW.uuid = 'bad' "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    std::vector<WorkflowStore::IngestBatch> batches = {
        {"s1", "p1", "/r/p1/s1.jsonl", {user("u1", kNow), OtherEntry{"summary"}}, 40},
        {"s2", "p2", "/r/p2/s2.jsonl", {user("u2", kNow, "s2")}, 70},
        {"s1", "p1", "/r/p1/s1.jsonl", {user("u3", kNow + 1)}, 90}, // the same file's next chunk
    };
    batches.push_back({"s3", "p1", "/r/p1/s3.jsonl", {user("bad", kNow, "s3")}, 10});
    auto failed = store_->ingest(batches);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().message, "step: 19: refused");
    EXPECT_EQ(store_->totals(), (WorkflowStore::Totals{0, 0, 0, 0}));

    batches.pop_back();
    auto r = store_->ingest(batches);
    ASSERT_TRUE(r) << r.error().message;
    RawDb raw(path_);
    EXPECT_EQ(store_->sessionOffset("s1"), 90);
    EXPECT_EQ(store_->sessionOffset("s2"), 70);
    EXPECT_EQ(raw.scalar("SELECT line_count FROM sessions WHERE id='s1'"), 3);
    EXPECT_EQ(raw.scalar("SELECT last_ts FROM sessions WHERE id='s1'"), int64_t(kNow * 1000) + 1000);
    EXPECT_EQ(store_->totals().userPrompts, 3);
}

TEST_F(WorkflowStoreTest, BusyDatabaseFailsAtBegin) {
    RawDb other(path_);
    other.exec("BEGIN IMMEDIATE;");
    auto r = store_->ingest("s1", "proj", "/f", {user("u1", kNow)}, 10);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message, "5: database is locked [sql: BEGIN IMMEDIATE TRANSACTION;]");
    auto policy = store_->setSessionPolicy("s1", ReviewPolicyLevel::strict);
    ASSERT_FALSE(policy);
    EXPECT_EQ(policy.error().message, "step: 5: database is locked");
    other.exec("ROLLBACK;");
    ingestOk({user("u1", kNow)}, 10);
}

TEST_F(WorkflowStoreTest, UserPromptQueriesRoundTrip) {
    UserEntry full{"u1", std::nullopt, "s1", kNow - 60.123, std::nullopt, std::nullopt,
                   "",   std::nullopt, "p"};
    ingestOk({full, user("u2", kNow - 30), user("u3", kNow - 90)}, 1);
    const auto recent = store_->recentUserPrompts(2);
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0].uuid, "u2");
    EXPECT_EQ(recent[1], full);
    EXPECT_TRUE(store_->recentUserPrompts(0).empty());

    const auto since = store_->userPrompts(kNow - 60.123);
    ASSERT_EQ(since.size(), 2u);
    EXPECT_EQ(since[0].uuid, "u1");
    EXPECT_EQ(since[1], user("u2", kNow - 30));
}

TEST_F(WorkflowStoreTest, ProjectActivityBusiestFirst) {
    auto nocwd = user("n1", kNow);
    nocwd.cwd.reset();
    auto other = user("o1", kNow);
    other.cwd = "/other";
    ingestOk({user("w1", kNow), user("w2", kNow), nocwd, other, user("old", kNow - 1000)}, 1);
    const auto activity = store_->projectActivity(kNow - 10);
    ASSERT_EQ(activity.size(), 3u);
    EXPECT_EQ(activity[0], (WorkflowStore::ProjectActivity{"/w", 2}));
    EXPECT_EQ(activity[1].promptCount, 1);
    EXPECT_TRUE((activity[1].cwd == "<unknown>") != (activity[2].cwd == "<unknown>"));
}

TEST_F(WorkflowStoreTest, ListSessionsStatusPolicyAndSource) {
    struct Case {
        std::string session;
        std::optional<double> age; // none: only other lines
        SessionStatus status;
    };
    const Case cases[] = {
        {"fresh", 299.9, SessionStatus::active}, {"five", 300, SessionStatus::idle},
        {"hour", 3600, SessionStatus::done},     {"future", -20, SessionStatus::active},
        {"quiet", 3599, SessionStatus::idle},    {"none", std::nullopt, SessionStatus::done},
    };
    for (const auto& c : cases) {
        if (c.age) {
            ingestOk({user(c.session + "-u", kNow - *c.age, c.session)}, 1, c.session);
        } else {
            ingestOk({OtherEntry{"summary"}}, 1, c.session);
        }
    }
    ASSERT_TRUE(store_->upsertProject({"proj", "/Users/ann/code/app", "", {}}));
    ASSERT_TRUE(store_->setSessionPolicy("fresh", ReviewPolicyLevel::permissive));
    ASSERT_TRUE(store_->setSessionPolicy("fresh", ReviewPolicyLevel::strict));
    RawDb(path_).exec("INSERT INTO session_policies VALUES ('five', 'Strict', 0)");

    const auto cards = store_->listSessions(100);
    ASSERT_EQ(cards.size(), 6u);
    EXPECT_EQ(cards.back().sessionId, "none"); // no timestamps sort last
    EXPECT_EQ(cards.front().sessionId, "future");
    for (const auto& c : cases) {
        const auto it =
            std::find_if(cards.begin(), cards.end(), [&](auto& card) { return card.sessionId == c.session; });
        ASSERT_NE(it, cards.end());
        EXPECT_EQ(it->status, c.status) << c.session;
    }
    const SessionCard fresh = cards[1];
    EXPECT_EQ(fresh.sessionId, "fresh");
    EXPECT_EQ(fresh.policy, ReviewPolicyLevel::strict);
    EXPECT_EQ(fresh.projectName, "app");
    EXPECT_EQ(fresh.cwd, "/Users/ann/code/app");
    EXPECT_EQ(fresh.promptCount, 1);
    EXPECT_EQ(fresh.turnCount, 0);
    EXPECT_EQ(fresh.gitBranch, "main");
    EXPECT_EQ(fresh.source, SessionSource::cli);
    EXPECT_NEAR(*fresh.lastActivity, kNow - 299.9, 1e-3);
    EXPECT_EQ(cards[2].policy, ReviewPolicyLevel::global); // "five" holds an unknown level
    EXPECT_FALSE(cards.back().lastActivity);
    EXPECT_EQ(store_->listSessions(2).size(), 2u);
    EXPECT_EQ(RawDb(path_).scalar("SELECT COUNT(*) FROM session_policies WHERE level='strict'"), 1);
}

TEST(WorkflowStoreSourceTest, DetectSource) {
    const std::pair<std::optional<std::string>, SessionSource> cases[] = {
        {std::nullopt, SessionSource::cli},
        {"default", SessionSource::cli},
        {"plan", SessionSource::cli},
        {"acceptEdits", SessionSource::cli},
        {"bypassPermissions", SessionSource::cli},
        {"Codex-auto", SessionSource::codex},
        {"VSCode", SessionSource::vscode},
        {"vs-code-plan", SessionSource::vscode},
        {"desktop", SessionSource::desktop},
        {"codex-vscode", SessionSource::codex},
    };
    for (const auto& [mode, source] : cases) {
        EXPECT_EQ(WorkflowStore::detectSource(mode, "/w"), source) << mode.value_or("<none>");
    }
}

// Counts per local calendar day, checked in a zone with summer time.
class PromptsByDayTest : public WorkflowStoreTest {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            savedTz_ = tz;
        }
        ::setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
        ::tzset();
        WorkflowStoreTest::SetUp();
    }
    void TearDown() override {
        WorkflowStoreTest::TearDown();
        if (savedTz_) {
            ::setenv("TZ", savedTz_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    std::optional<std::string> savedTz_;
};

// Epoch seconds of a local (EST5EDT) wall-clock time.
double local(int y, int mo, int d, int h, int mi, int s) {
    tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return static_cast<double>(::mktime(&t));
}

TEST_F(PromptsByDayTest, EmptyDatabaseGivesZeroFilledDays) {
    now_ = local(2025, 6, 1, 9, 30, 0);
    const auto days = store_->userPromptsByDay(7);
    ASSERT_EQ(days.size(), 7u);
    EXPECT_EQ(days.back().day, local(2025, 6, 1, 0, 0, 0));
    EXPECT_EQ(days.front().day, local(2025, 5, 26, 0, 0, 0));
    for (const auto& d : days) {
        EXPECT_EQ(d.count, 0);
    }
    EXPECT_TRUE(store_->userPromptsByDay(0).empty());
    EXPECT_TRUE(store_->userPromptsByDay(-3).empty());
}

TEST_F(PromptsByDayTest, CountsAroundLocalMidnightAndSummerTime) {
    // Summer time starts on 2025-03-09: that day has 23 hours.
    now_ = local(2025, 3, 10, 12, 0, 0);
    ingestOk({user("before-start", local(2025, 3, 7, 23, 59, 59)), user("first", local(2025, 3, 8, 0, 0, 0)),
              user("late-8th", local(2025, 3, 8, 23, 59, 59) + 0.999),
              user("early-9th", local(2025, 3, 9, 0, 0, 0)), user("late-9th", local(2025, 3, 9, 23, 30, 0)),
              user("today", local(2025, 3, 10, 0, 0, 1)), user("tomorrow", local(2025, 3, 11, 0, 0, 0))},
             1);
    const auto days = store_->userPromptsByDay(3);
    ASSERT_EQ(days.size(), 3u);
    EXPECT_EQ(days[0], (WorkflowStore::DayCount{local(2025, 3, 8, 0, 0, 0), 2}));
    EXPECT_EQ(days[1], (WorkflowStore::DayCount{local(2025, 3, 9, 0, 0, 0), 2}));
    EXPECT_EQ(days[2], (WorkflowStore::DayCount{local(2025, 3, 10, 0, 0, 0), 1}));
    EXPECT_EQ(days[2].day - days[1].day, 23 * 3600);
}

} // namespace
} // namespace perchwell
