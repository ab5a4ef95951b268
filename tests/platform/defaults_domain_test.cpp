#include "platform/defaults_domain.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace perchwell;
using perchwell::testing::LogCapture;
using perchwell::testing::readFile;
using perchwell::testing::TempHome;
using perchwell::testing::writeFile;

namespace {

nlohmann::json fileObject(const std::string& path) {
    return nlohmann::json::parse(readFile(path));
}

} // namespace

TEST(DefaultsDomain, MissingOrCorruptFileIsEmptyAndRegisteredDefaultsAreFallbacks) {
    TempHome home;
    for (const char* content : {"", "not json", "[1,2]"}) {
        DefaultsDomain d(home.path() + "/d.json");
        if (*content) {
            writeFile(d.path(), content);
            d.reload();
        }
        d.registerDefaults({{"pv.flag", true}, {"pv.port", 7392}});
        EXPECT_TRUE(d.boolForKey("pv.flag")) << content;
        EXPECT_EQ(d.integerForKey("pv.port"), 7392);
        EXPECT_FALSE(d.hasStoredValue("pv.flag"));
        EXPECT_FALSE(d.stringForKey("pv.absent").has_value());
    }
}

TEST(DefaultsDomain, GettersGiveZeroValuesForOtherTypes) {
    TempHome home;
    writeFile(home.path() + "/d.json", R"({"i":"7","d":[1],"s":5,"f":2.9})");
    DefaultsDomain d(home.path() + "/d.json");
    EXPECT_EQ(d.integerForKey("i"), 0);
    EXPECT_EQ(d.doubleForKey("d"), 0.0);
    EXPECT_FALSE(d.stringForKey("s").has_value());
    EXPECT_EQ(d.integerForKey("f"), 2);
}

TEST(DefaultsDomain, BooleansReadAsThePlatformDefaultsDoElseTheRegisteredDefault) {
    const struct {
        nlohmann::json stored;
        std::optional<bool> reads; // nothing: the registered default, logged
    } cases[] = {
        {true, true},
        {false, false},
        {1, true},
        {0, false},
        {1.0, true},
        {0.0, false},
        {"true", true},
        {"TRUE", true},
        {"True", true},
        {"false", false},
        {"FaLsE", false},
        {"yes", true},
        {"YES", true},
        {"no", false},
        {"No", false},
        {"1", true},
        {"0", false},
        {2, std::nullopt},
        {-1, std::nullopt},
        {0.5, std::nullopt},
        {"", std::nullopt},
        {"on", std::nullopt},
        {" true", std::nullopt},
        {"maybe", std::nullopt},
        {nullptr, std::nullopt},
        {nlohmann::json::array({true}), std::nullopt},
        {nlohmann::json::object(), std::nullopt},
    };
    TempHome home;
    LogCapture logs;
    const std::string path = home.path() + "/d.json";
    for (const bool registered : {true, false}) {
        for (const auto& c : cases) {
            writeFile(path, nlohmann::json{{"pv.flag", c.stored}, {"pv.other", c.stored}}.dump());
            DefaultsDomain d(path);
            d.registerDefaults({{"pv.flag", registered}});
            EXPECT_EQ(d.boolForKey("pv.flag"), c.reads.value_or(registered)) << c.stored.dump();
            // Without a registered default a value that is not a boolean reads as false.
            EXPECT_EQ(d.boolForKey("pv.other"), c.reads.value_or(false)) << c.stored.dump();
        }
    }
    // Once per key per process, whatever the value and however many domains read it.
    EXPECT_EQ(logs.messages("defaults"),
              (std::vector<std::string>{"pv.flag = 2 is not a boolean; using true instead",
                                        "pv.other = 2 is not a boolean; using false instead"}));
}

TEST(DefaultsDomain, SetWritesThroughAtomicallyWithOwnerOnlyMode) {
    TempHome home;
    const std::string path = home.path() + "/cfg/perchwell/defaults.json";
    {
        DefaultsDomain d(path);
        d.registerDefaults({{"pv.enabled", true}});
        ASSERT_TRUE(d.set("pv.enabled", true).ok());
        ASSERT_TRUE(d.set("pv.text", "héllo\t\"q\"").ok());
    }
    DefaultsDomain reread(path);
    EXPECT_TRUE(reread.hasStoredValue("pv.enabled"));
    EXPECT_EQ(reread.stringForKey("pv.text"), "héllo\t\"q\"");
    for (const std::string& file : {path, reread.lockPath()}) {
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
    // Nothing but the file and its lock is left beside it.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(home.path() + "/cfg/perchwell")) {
        ++entries;
    }
    EXPECT_EQ(entries, 2u);
}

TEST(DefaultsDomain, SetKeepsWhatOthersWroteSinceTheLastRead) {
    TempHome home;
    const std::string path = home.path() + "/defaults.json";
    writeFile(path, R"({"pv.enabled": true, "pv.mcpPort": 7392})");
    DefaultsDomain app(path);
    // A hand edit (in place) and another writer, both after the application read the file.
    writeFile(path, R"({"pv.enabled": true, "pv.mcpPort": 8000, "pv.hookHardDeny": true})");
    ASSERT_TRUE(DefaultsDomain(path).set("pv.ollamaModel", "llama3").ok());

    ASSERT_TRUE(app.set("pv.enabled", false).ok());
    EXPECT_EQ(fileObject(path), (nlohmann::json{{"pv.enabled", false},
                                                {"pv.mcpPort", 8000},
                                                {"pv.hookHardDeny", true},
                                                {"pv.ollamaModel", "llama3"}}));
    // The domain now reads what it wrote.
    EXPECT_EQ(app.integerForKey("pv.mcpPort"), 8000);
    EXPECT_TRUE(app.boolForKey("pv.hookHardDeny"));
}

TEST(DefaultsDomain, ConcurrentSettersInSeveralProcessesAndThreadsLoseNothing) {
    TempHome home;
    const std::string path = home.path() + "/cfg/defaults.json";
    constexpr int writers = 4;
    constexpr int keysEach = 25;
    auto setAll = [](DefaultsDomain& d, const std::string& who) {
        bool ok = true;
        for (int i = 0; i < keysEach; ++i) {
            ok = d.set(who + "." + std::to_string(i), i).ok() && ok;
        }
        return ok;
    };

    std::vector<pid_t> children;
    for (int p = 0; p < writers; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            DefaultsDomain d(path);
            ::_exit(setAll(d, "process" + std::to_string(p)) ? 0 : 1);
        }
        children.push_back(pid);
    }
    DefaultsDomain shared(path);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < writers; ++t) {
        threads.emplace_back([&, t] {
            // Half the threads share one domain, half have one each.
            DefaultsDomain own(path);
            if (!setAll(t % 2 ? shared : own, "thread" + std::to_string(t))) {
                ++failures;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(failures.load(), 0);

    const auto written = fileObject(path);
    EXPECT_EQ(written.size(), size_t{2 * writers * keysEach});
    for (int w = 0; w < writers; ++w) {
        for (int i = 0; i < keysEach; ++i) {
            for (const std::string who : {"process", "thread"}) {
                const std::string key = who + std::to_string(w) + "." + std::to_string(i);
                EXPECT_EQ(written.value(key, -1), i) << key;
            }
        }
    }
}

TEST(DefaultsDomain, UnparsableFileIsKeptAsCorruptBeforeAFreshOneIsWritten) {
    const struct {
        std::string content;
        std::string problem;
    } cases[] = {
        {R"({"pv.enabled": false,)", "parse error"},
        {"[1,2]", "not a JSON object"},
        {R"("pv.enabled")", "not a JSON object"},
    };
    for (const auto& [content, problem] : cases) {
        TempHome home;
        LogCapture logs;
        const std::string path = home.path() + "/defaults.json";
        writeFile(path, R"({"pv.mcpPort": 8000})");
        DefaultsDomain d(path);
        writeFile(path, content);

        ASSERT_TRUE(d.set("pv.enabled", true).ok()) << content;
        EXPECT_EQ(readFile(d.corruptPath()), content);
        // The fresh file starts from what the domain last read.
        EXPECT_EQ(fileObject(path), (nlohmann::json{{"pv.mcpPort", 8000}, {"pv.enabled", true}}));
        const auto logged = logs.messages("defaults");
        ASSERT_EQ(logged.size(), 1u) << content;
        EXPECT_NE(logged[0].find(path + " does not parse ("), std::string::npos) << logged[0];
        EXPECT_NE(logged[0].find("kept as " + d.corruptPath()), std::string::npos) << logged[0];
        EXPECT_NE(logged[0].find(problem), std::string::npos) << logged[0];
    }
}

TEST(DefaultsDomain, BlankFileIsEmptyNotCorrupt) {
    TempHome home;
    const std::string path = home.path() + "/defaults.json";
    writeFile(path, " \n");
    DefaultsDomain d(path);
    ASSERT_TRUE(d.set("pv.enabled", false).ok());
    EXPECT_FALSE(std::filesystem::exists(d.corruptPath()));
    EXPECT_EQ(fileObject(path), (nlohmann::json{{"pv.enabled", false}}));
}

TEST(DefaultsDomain, ReloadTakesTheFileButKeepsTheLastValuesWhileItDoesNotParse) {
    TempHome home;
    const std::string path = home.path() + "/defaults.json";
    writeFile(path, R"({"pv.mcpPort": 8000})");
    DefaultsDomain d(path);
    writeFile(path, R"({"pv.mcpPort": 80)"); // an in-place edit caught half way
    d.reload();
    EXPECT_EQ(d.integerForKey("pv.mcpPort"), 8000);
    writeFile(path, R"({"pv.mcpPort": 80})");
    d.reload();
    EXPECT_EQ(d.integerForKey("pv.mcpPort"), 80);
    std::filesystem::remove(path);
    d.reload();
    EXPECT_FALSE(d.hasStoredValue("pv.mcpPort"));
}

TEST(DefaultsDomain, FailedWriteKeepsInMemoryValueAndReportsError) {
    TempHome home;
    writeFile(home.path() + "/file", "x");
    DefaultsDomain d(home.path() + "/file/defaults.json"); // parent is a file
    const auto result = d.set("pv.mcpPort", 80);
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(result.error().message.empty());
    EXPECT_EQ(d.integerForKey("pv.mcpPort"), 80);
}
