#include "support/process.h"
#include "support/temp_home.h"
#include "workflow/jsonl_parser.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

namespace perchwell {
namespace {

using testing::makeTempDir;
using testing::readFile;
using testing::removeTree;
using testing::writeFile;

struct SessionRow {
    int64_t offset = 0;
    int64_t lineCount = 0;
    int64_t prompts = 0;
};

std::map<std::string, SessionRow> sessionRows(const std::string& db) {
    std::map<std::string, SessionRow> rows;
    sqlite3* conn = nullptr;
    sqlite3_open_v2(db.c_str(), &conn, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(conn,
                       "SELECT id, byte_offset, line_count, "
                       "(SELECT COUNT(*) FROM user_prompts WHERE session_id = s.id) FROM sessions s",
                       -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        rows[reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))] = SessionRow{
            sqlite3_column_int64(stmt, 1), sqlite3_column_int64(stmt, 2), sqlite3_column_int64(stmt, 3)};
    }
    sqlite3_finalize(stmt);
    sqlite3_close(conn);
    return rows;
}

int64_t countPrompts(const std::string& db) {
    int64_t total = 0;
    for (const auto& [id, row] : sessionRows(db)) {
        total += row.prompts;
    }
    return total;
}

// Records and user prompts in the first `length` bytes of a transcript.
std::pair<int64_t, int64_t> recordsIn(const std::string& content, size_t length) {
    int64_t records = 0, users = 0;
    size_t pos = 0;
    while (pos < length) {
        const size_t end = content.find('\n', pos);
        if (auto entry = JSONLParser::parse(std::string_view(content).substr(pos, end - pos))) {
            ++records;
            users += std::holds_alternative<UserEntry>(*entry);
        }
        pos = end + 1;
    }
    return {records, users};
}

// Every session's offset sits after a line feed, and its counts are exactly those of the
// lines before it: no chunk half stored, none counted twice.
void expectConsistent(const std::string& db, const std::map<std::string, std::string>& files, bool complete) {
    const auto rows = sessionRows(db);
    for (const auto& [session, content] : files) {
        const auto it = rows.find(session);
        if (it == rows.end()) {
            EXPECT_FALSE(complete) << session;
            continue;
        }
        const SessionRow& row = it->second;
        ASSERT_LE(row.offset, static_cast<int64_t>(content.size())) << session;
        if (row.offset > 0) {
            EXPECT_EQ(content[static_cast<size_t>(row.offset - 1)], '\n') << session;
        }
        const auto [records, users] = recordsIn(content, static_cast<size_t>(row.offset));
        EXPECT_EQ(row.lineCount, records) << session;
        EXPECT_EQ(row.prompts, users) << session;
        if (complete) {
            EXPECT_EQ(row.offset, static_cast<int64_t>(content.size())) << session;
        }
    }
}

TEST(BackfillCrashTest, KilledMidwayThenRestartedLosesAndDuplicatesNothing) {
    const std::string dir = makeTempDir("pw-crash");
    const std::string root = dir + "/projects";
    const std::string db = dir + "/data/workflow.db";
    std::mt19937 random(7);
    std::map<std::string, std::string> files;
    int64_t totalPrompts = 0;
    for (int p = 0; p < 3; ++p) {
        for (int f = 0; f < 4; ++f) {
            const std::string session = "s" + std::to_string(p) + "-" + std::to_string(f);
            std::string content;
            for (int i = 0; content.size() < 2'000'000; ++i) {
                const std::string uuid = session + "-" + std::to_string(i);
                const std::string text(50 + random() % 4000, static_cast<char>('a' + random() % 26));
                if (i % 2 == 0) {
                    content += R"({"type":"user","uuid":")" + uuid + R"(","sessionId":")" + session +
                               R"(","timestamp":"2025-06-01T09:30:15.123Z","message":{"content":")" + text +
                               "\"}}\n";
                    ++totalPrompts;
                } else {
                    content +=
                        R"({"type":"assistant","uuid":")" + uuid + R"(","sessionId":")" + session +
                        R"(","timestamp":"2025-06-01T09:30:16Z","message":{"content":[{"type":"text","text":")" +
                        text + "\"}]}}\n";
                }
            }
            files[session] = content;
            writeFile(root + "/-p" + std::to_string(p) + "/" + session + ".jsonl", content);
        }
    }

    const std::string helper = testing::binaryPath("workflow_backfill_helper");
    testing::BackgroundProcess backfill({helper, root, db, "65536"});
    // Kill it once part of the tree is in.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline && countPrompts(db) < totalPrompts / 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(backfill.stop(SIGKILL), 128 + SIGKILL) << "the back-fill ended before it could be killed";
    const int64_t atKill = countPrompts(db);
    EXPECT_GT(atKill, 0);
    EXPECT_LT(atKill, totalPrompts);
    expectConsistent(db, files, false);

    const auto rerun = testing::runProcess({helper, root, db, "65536"});
    ASSERT_EQ(rerun.exitCode, 0) << rerun.err;
    expectConsistent(db, files, true);
    EXPECT_EQ(countPrompts(db), totalPrompts);
    removeTree(dir);
}

} // namespace
} // namespace perchwell
