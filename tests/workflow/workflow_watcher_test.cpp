#include "support/temp_home.h"
#include "workflow/workflow_reader.h"
#include "workflow/workflow_store.h"
#include "workflow/workflow_watcher.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace perchwell {
namespace {

using namespace std::chrono_literals;
using testing::makeTempDir;
using testing::removeTree;

std::string userLine(const std::string& uuid, const std::string& session) {
    return R"({"type":"user","uuid":")" + uuid + R"(","sessionId":")" + session +
           R"(","timestamp":"2025-06-01T09:30:15Z","message":{"content":"prompt )" + uuid + R"("}})" + "\n";
}

std::string assistantLine(const std::string& uuid, const std::string& session) {
    return R"({"type":"assistant","uuid":")" + uuid + R"(","sessionId":")" + session +
           R"(","timestamp":"2025-06-01T09:30:16Z","message":{"content":[{"type":"tool_use","name":"Bash"}]}})" +
           "\n";
}

void append(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// Total inotify watches held by this process, read from the kernel's own account.
size_t inotifyWatchesInProcess() {
    size_t watches = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const auto target = std::filesystem::read_symlink(entry.path(), ec);
        if (ec || target.string() != "anon_inode:inotify") {
            continue;
        }
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        for (std::string line; std::getline(info, line);) {
            watches += line.rfind("inotify wd:", 0) == 0;
        }
    }
    return watches;
}

class WorkflowWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = makeTempDir("pw-watch");
        root_ = dir_ + "/projects";
        AppLogger::setSink([this](const AppLogger::Record& r) {
            std::lock_guard lock(mutex_);
            logs_.push_back(r);
        });
        auto opened = WorkflowStore::open(dir_ + "/data/workflow.db");
        ASSERT_TRUE(opened);
        store_ = std::move(*opened);
        reader_ = std::make_unique<WorkflowReader>();
        watcher_ = makeWatcher();
    }
    void TearDown() override {
        watcher_.reset();
        AppLogger::setSink({});
        removeTree(dir_);
    }

    std::unique_ptr<WorkflowWatcher> makeWatcher() {
        auto watcher = std::make_unique<WorkflowWatcher>(*store_, *reader_, root_);
        watcher->onUserPromptIngested = [this](const UserEntry& e) { record("user:" + e.uuid); };
        watcher->onAssistantIngested = [this](const AssistantEntry& e) { record("assistant:" + e.uuid); };
        return watcher;
    }

    void record(const std::string& what) {
        std::lock_guard lock(mutex_);
        reports_.push_back(what);
        changed_.notify_all();
    }

    // The reports once there are `count` of them (or what came within the guard time).
    std::vector<std::string> waitForReports(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 10s, [&] { return reports_.size() >= count; });
        return reports_;
    }

    template <typename Pred> bool eventually(Pred pred) {
        for (int i = 0; i < 1000; ++i) {
            if (pred()) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    std::vector<std::string> warnings() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& r : logs_) {
            if (r.level == LogLevel::warning) {
                out.push_back(r.message);
            }
        }
        return out;
    }

    std::string file(const std::string& project, const std::string& session) {
        return root_ + "/" + project + "/" + session + ".jsonl";
    }

    std::string dir_, root_;
    std::unique_ptr<WorkflowStore> store_;
    std::unique_ptr<WorkflowReader> reader_;
    std::unique_ptr<WorkflowWatcher> watcher_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> reports_;
    std::vector<AppLogger::Record> logs_;
};

TEST_F(WorkflowWatcherTest, BackfillsSilentlyThenReportsAppendedLines) {
    append(file("-a", "s1"), userLine("u1", "s1") + assistantLine("a1", "s1"));
    append(file("-a", "s2"), userLine("u2", "s2"));
    append(file("-b", "s3"), R"({"type":"summary","summary":"x"})"
                             "\n");
    watcher_->start().get();

    EXPECT_EQ(store_->totals(), (WorkflowStore::Totals{2, 3, 2, 1}));
    EXPECT_TRUE(waitForReports(0).empty());
    EXPECT_EQ(watcher_->sessionIsLive("s1"), false);
    EXPECT_EQ(watcher_->sessionIsLive("s3"), false);
    {
        std::lock_guard lock(mutex_);
        ASSERT_FALSE(logs_.empty());
        EXPECT_EQ(logs_.back().message, "watcher started: rootFD=1, watching 3 file(s)");
        EXPECT_EQ(logs_.back().level, LogLevel::info);
    }

    append(file("-a", "s1"), userLine("u3", "s1"));
    EXPECT_EQ(waitForReports(1), (std::vector<std::string>{"user:u3"}));
    EXPECT_EQ(watcher_->sessionIsLive("s1"), true);
    append(file("-a", "s1"), assistantLine("a3", "s1") + userLine("u4", "s1"));
    EXPECT_EQ(waitForReports(3), (std::vector<std::string>{"user:u3", "assistant:a3", "user:u4"}));
    EXPECT_EQ(store_->totals().userPrompts, 4);
}

TEST_F(WorkflowWatcherTest, NewSessionFileInKnownProjectIsStoredLive) {
    append(file("-a", "old"), userLine("u0", "old"));
    watcher_->start().get();

    append(file("-a", "new"), userLine("n1", "new"));
    ASSERT_TRUE(eventually([&] { return store_->sessionOffset("new") > 0; }));
    EXPECT_EQ(watcher_->sessionIsLive("new"), false); // its first batch is not reported
    append(file("-a", "new"), assistantLine("n2", "new"));
    EXPECT_EQ(waitForReports(1), (std::vector<std::string>{"assistant:n2"}));
    EXPECT_EQ(watcher_->watchState().files, 2u);

    // A new project directory is picked up through the root.
    append(file("-c", "other"), userLine("c1", "other"));
    ASSERT_TRUE(eventually([&] { return store_->sessionOffset("other") > 0; }));
    append(file("-c", "later"), userLine("c2", "later"));
    ASSERT_TRUE(eventually([&] { return store_->sessionOffset("later") > 0; }));
    EXPECT_EQ(watcher_->watchState(), (WorkflowWatcher::WatchState{1, 2, 4, ""}));
}

TEST_F(WorkflowWatcherTest, HalfLineIsStoredOnlyWhenCompleted) {
    append(file("-a", "s1"), userLine("u1", "s1"));
    watcher_->start().get();
    const int64_t before = store_->sessionOffset("s1");

    const std::string line = userLine("u2", "s1");
    append(file("-a", "s1"), line.substr(0, 30));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(store_->sessionOffset("s1"), before);
    append(file("-a", "s1"), line.substr(30));
    EXPECT_EQ(waitForReports(1), (std::vector<std::string>{"user:u2"}));
    EXPECT_EQ(store_->sessionOffset("s1"), before + static_cast<int64_t>(line.size()));
    EXPECT_EQ(store_->recentUserPrompts(1).at(0).content, "prompt u2");
}

TEST_F(WorkflowWatcherTest, StartTwiceLeavesOneWatchEach) {
    append(file("-a", "s1"), userLine("u1", "s1"));
    append(file("-b", "s2"), userLine("u2", "s2"));
    watcher_->start().get();
    watcher_->start().get();
    EXPECT_EQ(watcher_->watchState(), (WorkflowWatcher::WatchState{1, 2, 2, ""}));
    EXPECT_EQ(inotifyWatchesInProcess(), 3u);

    append(file("-a", "s1"), userLine("u3", "s1"));
    append(file("-a", "s1"), userLine("u4", "s1"));
    EXPECT_EQ(waitForReports(2), (std::vector<std::string>{"user:u3", "user:u4"}));

    watcher_->stop().get();
    EXPECT_EQ(watcher_->watchState(), (WorkflowWatcher::WatchState{-1, 0, 0, ""}));
    EXPECT_EQ(inotifyWatchesInProcess(), 0u);

    // Lines written while stopped are known-file lines: reported during the next back-fill.
    append(file("-b", "s2"), assistantLine("a5", "s2"));
    watcher_->start().get();
    EXPECT_EQ(waitForReports(3), (std::vector<std::string>{"user:u3", "user:u4", "assistant:a5"}));
}

TEST_F(WorkflowWatcherTest, FailingIngestIsRetriedOnTheNextChange) {
    append(file("-a", "s1"), userLine("u1", "s1"));
    watcher_->start().get();

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/data/workflow.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    append(file("-a", "s1"), userLine("u2", "s1"));
    ASSERT_TRUE(eventually([&] { return !warnings().empty(); }));
    EXPECT_EQ(warnings().front(),
              "ingest s1 failed: 5: database is locked [sql: BEGIN IMMEDIATE TRANSACTION;]");
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(waitForReports(0).empty());

    append(file("-a", "s1"), userLine("u3", "s1"));
    EXPECT_EQ(waitForReports(2), (std::vector<std::string>{"user:u2", "user:u3"}));
    EXPECT_EQ(store_->totals().userPrompts, 3);
}

TEST_F(WorkflowWatcherTest, RapidAppendsAreEachReportedOnce) {
    append(file("-a", "s1"), userLine("u0", "s1"));
    watcher_->start().get();
    std::vector<std::string> expected;
    for (int i = 1; i <= 300; ++i) {
        const std::string uuid = "u" + std::to_string(i);
        append(file("-a", "s1"), userLine(uuid, "s1"));
        expected.push_back("user:" + uuid);
    }
    EXPECT_EQ(waitForReports(expected.size()), expected);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(waitForReports(expected.size()).size(), expected.size());

    sqlite3* db = nullptr;
    sqlite3_open((dir_ + "/data/workflow.db").c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT line_count FROM sessions WHERE id = 's1'", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), 301); // no line counted twice
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

TEST_F(WorkflowWatcherTest, ProjectsDirectoryMadeAfterStartIsBackfilledThenFollowed) {
    watcher_->start().get();
    EXPECT_EQ(warnings(),
              (std::vector<std::string>{"root open(" + root_ + ") failed: No such file or directory"}));
    EXPECT_EQ(watcher_->watchState(), (WorkflowWatcher::WatchState{-1, 0, 0, dir_}));

    // Claude Code's first run makes the directory with a transcript already in it.
    const std::string staged = dir_ + "/staged";
    append(staged + "/-a/s1.jsonl", userLine("u1", "s1") + assistantLine("a1", "s1"));
    ASSERT_EQ(::rename(staged.c_str(), root_.c_str()), 0);
    ASSERT_TRUE(eventually([&] { return store_->totals().userPrompts == 1; }));
    EXPECT_EQ(watcher_->sessionIsLive("s1"), false); // history, not live work
    EXPECT_TRUE(eventually([&] { return watcher_->watchState().ancestor.empty(); }));
    EXPECT_GE(watcher_->watchState().rootWatch, 0);

    append(file("-a", "s1"), userLine("u2", "s1"));
    EXPECT_EQ(waitForReports(1), (std::vector<std::string>{"user:u2"}));
}

TEST_F(WorkflowWatcherTest, ProjectsDirectoryRemovedAndMadeAgainIsTakenUpAgain) {
    append(file("-a", "s1"), userLine("u1", "s1"));
    watcher_->start().get();
    const std::string aside = dir_ + "/aside";
    const std::function<void()> removals[] = {
        [&] { removeTree(root_); },
        [&] { ASSERT_EQ(::rename(root_.c_str(), aside.c_str()), 0); },
    };
    int round = 0;
    for (const auto& remove : removals) {
        ++round;
        remove();
        ASSERT_TRUE(eventually([&] {
            return watcher_->watchState() == WorkflowWatcher::WatchState{-1, 0, 0, dir_};
        })) << round;
        // Nothing of the old tree is still watched, wherever it went.
        EXPECT_EQ(inotifyWatchesInProcess(), 1u) << round;

        const std::string session = "r" + std::to_string(round);
        append(file("-a", session), userLine(session + "-old", session));
        ASSERT_TRUE(eventually([&] { return store_->sessionOffset(session) > 0; })) << round;
        append(file("-a", session), userLine(session + "-new", session));
        EXPECT_EQ(waitForReports(static_cast<size_t>(round)).back(), "user:" + session + "-new");
    }
    EXPECT_EQ(waitForReports(2), (std::vector<std::string>{"user:r1-new", "user:r2-new"}));
    // The tree moved aside is no longer followed.
    append(aside + "/-a/r2.jsonl", userLine("stray", "r2"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(waitForReports(2).size(), 2u);
}

TEST_F(WorkflowWatcherTest, ClaudeDirectoryMadeAfterStartIsFollowedDownToTheRoot) {
    watcher_.reset();
    const std::string claude = dir_ + "/home/.claude";
    root_ = claude + "/projects";
    watcher_ = makeWatcher();
    std::filesystem::create_directories(dir_ + "/home");
    watcher_->start().get();
    EXPECT_EQ(watcher_->watchState().ancestor, dir_ + "/home");

    std::filesystem::create_directories(claude);
    ASSERT_TRUE(eventually([&] { return watcher_->watchState().ancestor == claude; }));
    std::filesystem::create_directories(root_);
    ASSERT_TRUE(eventually([&] { return watcher_->watchState().rootWatch >= 0; }));
    EXPECT_EQ(watcher_->watchState().ancestor, "");
    append(file("-a", "s1"), userLine("u1", "s1"));
    ASSERT_TRUE(eventually([&] { return store_->sessionOffset("s1") > 0; }));
    append(file("-a", "s1"), userLine("u2", "s1"));
    EXPECT_EQ(waitForReports(1), (std::vector<std::string>{"user:u2"}));

    // The whole Claude directory goes, and comes back at once with a transcript.
    removeTree(claude);
    ASSERT_TRUE(eventually([&] { return watcher_->watchState().ancestor == dir_ + "/home"; }));
    append(file("-b", "s2"), userLine("u3", "s2"));
    ASSERT_TRUE(eventually([&] { return store_->sessionOffset("s2") > 0; }));
    append(file("-b", "s2"), userLine("u4", "s2"));
    EXPECT_EQ(waitForReports(2), (std::vector<std::string>{"user:u2", "user:u4"}));
    EXPECT_EQ(inotifyWatchesInProcess(), 2u); // the root and its one project
}

TEST_F(WorkflowWatcherTest, FailingProjectUpsertSkipsItsFilesButWatchesThem) {
    append(file("-a", "s1"), userLine("u1", "s1"));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/data/workflow.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(other,
                     "CREATE TRIGGER refuse BEFORE INSERT ON projects BEGIN SELECT RAISE(ABORT, 'no'); END;",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    watcher_->start().get();
    EXPECT_EQ(warnings(), (std::vector<std::string>{"upsertProject -a failed: step: 19: no"}));
    EXPECT_EQ(store_->sessionOffset("s1"), 0);
    EXPECT_EQ(watcher_->watchState().files, 1u);

    sqlite3_exec(other, "DROP TRIGGER refuse;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    append(file("-a", "s1"), userLine("u2", "s1"));
    ASSERT_TRUE(eventually([&] { return store_->totals().userPrompts == 2; }));
    EXPECT_TRUE(waitForReports(0).empty()); // first read of the file starts at 0
}

TEST_F(WorkflowWatcherTest, ToolInputWithHugeNumbersIsStoredAndReported) {
    append(file("-a", "s1"), userLine("u1", "s1"));
    watcher_->start().get();
    append(file("-a", "s1"),
           R"({"type":"assistant","uuid":"big","sessionId":"s1","timestamp":"2025-06-01T09:30:16Z",)"
           R"("message":{"content":[{"type":"tool_use","name":"Write","input":{"n":123456789012345678901,)"
           R"("x":1e400}}]}})"
           "\n");
    EXPECT_EQ(waitForReports(1), (std::vector<std::string>{"assistant:big"}));
    EXPECT_EQ(store_->totals().assistantTurns, 1);
}

TEST_F(WorkflowWatcherTest, ChunkedBackfillStaysSilentAndChunkedAppendsReportEveryLine) {
    watcher_.reset();
    reader_ = std::make_unique<WorkflowReader>(512); // a few lines per chunk
    watcher_ = makeWatcher();
    std::string history;
    for (int i = 0; i < 40; ++i) {
        history += userLine("h" + std::to_string(i), "s1") + assistantLine("k" + std::to_string(i), "s1");
    }
    append(file("-a", "s1"), history);
    append(file("-a", "s2"), history.substr(0, history.size() / 2)); // another session, same lines
    watcher_->start().get();
    EXPECT_TRUE(waitForReports(0).empty());
    EXPECT_EQ(store_->sessionOffset("s1"), static_cast<int64_t>(history.size()));

    std::string burst;
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) {
        burst += userLine("b" + std::to_string(i), "s1");
        expected.push_back("user:b" + std::to_string(i));
    }
    append(file("-a", "s1"), burst); // one event, several chunks
    EXPECT_EQ(waitForReports(expected.size()), expected);
}

} // namespace
} // namespace perchwell
