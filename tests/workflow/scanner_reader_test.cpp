#include "support/temp_home.h"
#include "workflow/project_scanner.h"
#include "workflow/workflow_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace perchwell {
namespace {

using testing::makeTempDir;
using testing::removeTree;
using testing::writeFile;

std::string line(const std::string& uuid, const std::string& type = "user") {
    return R"({"type":")" + type + R"(","uuid":")" + uuid +
           R"(","sessionId":"s","timestamp":"2025-06-01T09:30:15Z","message":{"content":"x"}})" + "\n";
}

std::vector<std::string> uuids(const std::vector<JSONLEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) {
        if (const auto* u = std::get_if<UserEntry>(&e)) {
            out.push_back(u->uuid);
        } else if (const auto* a = std::get_if<AssistantEntry>(&e)) {
            out.push_back(a->uuid);
        } else {
            out.push_back("other:" + std::get<OtherEntry>(e).type);
        }
    }
    return out;
}

class ScannerReaderTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = makeTempDir("pw-scan"); }
    void TearDown() override { removeTree(dir_); }
    std::string dir_;
};

TEST_F(ScannerReaderTest, ScanFindsProjectDirectoriesAndSessionFiles) {
    EXPECT_TRUE(ProjectScanner::scan(dir_ + "/missing").empty());
    const std::string root = dir_ + "/projects";
    writeFile(root + "/-Users-ann-my-app/b.jsonl", "");
    writeFile(root + "/-Users-ann-my-app/a.jsonl", "");
    writeFile(root + "/-Users-ann-my-app/notes.txt", "");
    writeFile(root + "/-Users-ann-my-app/c.JSONL", "");
    writeFile(root + "/-Users-ann-my-app/.hidden.jsonl", "");
    writeFile(root + "/-Users-ann-my-app/sub/d.jsonl", "");
    writeFile(root + "/.cache/x.jsonl", "");
    writeFile(root + "/plain.jsonl", "");
    std::filesystem::create_directories(root + "/-empty");
    ::symlink((root + "/-empty").c_str(), (root + "/-link").c_str());

    auto projects = ProjectScanner::scan(root);
    std::sort(projects.begin(), projects.end(),
              [](auto& a, auto& b) { return a.directoryName < b.directoryName; });
    ASSERT_EQ(projects.size(), 2u);
    EXPECT_EQ(projects[0], (DiscoveredProject{
                               "-Users-ann-my-app",
                               "/Users/ann/my/app",
                               root + "/-Users-ann-my-app",
                               {root + "/-Users-ann-my-app/a.jsonl", root + "/-Users-ann-my-app/b.jsonl"}}));
    EXPECT_EQ(projects[1].directoryName, "-empty");
    EXPECT_TRUE(projects[1].sessionFiles.empty());
}

TEST_F(ScannerReaderTest, UnreadableProjectIsKeptWithoutFiles) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every directory";
    }
    writeFile(dir_ + "/-locked/a.jsonl", "");
    ::chmod((dir_ + "/-locked").c_str(), 0);
    const auto projects = ProjectScanner::scan(dir_);
    ::chmod((dir_ + "/-locked").c_str(), 0700);
    ASSERT_EQ(projects.size(), 1u);
    EXPECT_TRUE(projects[0].sessionFiles.empty());
}

TEST_F(ScannerReaderTest, TailReadsCompleteLinesOnly) {
    WorkflowReader reader;
    const std::string file = dir_ + "/s.jsonl";
    const std::string l1 = line("u1"), l2 = line("a2", "assistant"), l3 = line("u3");
    writeFile(file, l1 + l2 + l3.substr(0, 20));

    auto first = reader.tailFile(file, 0);
    EXPECT_EQ(uuids(first.entries), (std::vector<std::string>{"u1", "a2"}));
    EXPECT_EQ(first.newOffset, static_cast<int64_t>(l1.size() + l2.size()));
    EXPECT_FALSE(first.more);

    auto partial = reader.tailFile(file, first.newOffset);
    EXPECT_TRUE(partial.entries.empty());
    EXPECT_EQ(partial.newOffset, first.newOffset);

    writeFile(file, l1 + l2 + l3);
    auto second = reader.tailFile(file, first.newOffset);
    EXPECT_EQ(uuids(second.entries), (std::vector<std::string>{"u3"}));
    EXPECT_EQ(second.newOffset, static_cast<int64_t>(l1.size() + l2.size() + l3.size()));
}

TEST_F(ScannerReaderTest, BadLinesAreConsumedAndDropped) {
    WorkflowReader reader;
    const std::string file = dir_ + "/s.jsonl";
    const std::string content = line("u1") + "\n\n" + "{not json\n" +
                                "{\"type\":\"summary\",\"summary\":\"\xC3\x28\"}\n" +
                                R"({"type":"summary","summary":"ok"})" + "\r\n" + line("u2");
    writeFile(file, content);
    auto r = reader.tailFile(file, 0);
    EXPECT_EQ(uuids(r.entries), (std::vector<std::string>{"u1", "other:summary", "u2"}));
    EXPECT_EQ(r.newOffset, static_cast<int64_t>(content.size()));
}

TEST_F(ScannerReaderTest, NothingToReadKeepsTheOffset) {
    WorkflowReader reader;
    const std::string file = dir_ + "/s.jsonl";
    writeFile(file, line("u1"));
    const int64_t size = static_cast<int64_t>(line("u1").size());
    struct Case {
        std::string path;
        int64_t offset;
    };
    const Case cases[] = {{dir_ + "/missing.jsonl", 5}, {file, size}, {file, size + 100}, {dir_, 0}};
    for (const auto& c : cases) {
        auto r = reader.tailFile(c.path, c.offset);
        EXPECT_TRUE(r.entries.empty()) << c.path << " @" << c.offset;
        EXPECT_EQ(r.newOffset, c.offset) << c.path << " @" << c.offset;
    }
    // A negative offset reads from the start.
    auto fromStart = reader.tailFile(file, -7);
    EXPECT_EQ(fromStart.entries.size(), 1u);
    EXPECT_EQ(fromStart.newOffset, size);
}

TEST_F(ScannerReaderTest, ChunksEndAtALineFeedAndLongLinesAreReadWhole) {
    const std::string file = dir_ + "/s.jsonl";
    std::string content;
    for (int i = 0; i < 20; ++i) {
        content += line("u" + std::to_string(i));
    }
    const std::string longLine =
        R"({"type":"user","uuid":"long","sessionId":"s","timestamp":"2025-06-01T09:30:15Z",)"
        R"("message":{"content":")" +
        std::string(5000, 'x') + "\"}}\n";
    content += longLine + line("last");
    writeFile(file, content);

    WorkflowReader reader(300); // a couple of lines per chunk
    std::vector<std::string> seen;
    int64_t offset = 0;
    int calls = 0;
    for (;;) {
        auto r = reader.tailFile(file, offset);
        ++calls;
        if (r.newOffset == offset) {
            break;
        }
        EXPECT_EQ(content[static_cast<size_t>(r.newOffset - 1)], '\n');
        for (auto& u : uuids(r.entries)) {
            seen.push_back(u);
        }
        offset = r.newOffset;
        if (!r.more) {
            break;
        }
    }
    EXPECT_GT(calls, 5);
    EXPECT_EQ(offset, static_cast<int64_t>(content.size()));
    ASSERT_EQ(seen.size(), 22u);
    EXPECT_EQ(seen[20], "long");
    EXPECT_EQ(seen[21], "last");
}

} // namespace
} // namespace perchwell
