#include "hooks/hook_command.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace perchwell;
using perchwell::testing::TempHome;
using Level = ReviewPolicyLevel;

TEST(ReviewPolicyLevelRaw, ExactLowerCaseStringsOnly) {
    for (Level level : allReviewPolicyLevels) {
        EXPECT_EQ(reviewPolicyLevelFromString(toString(level)), level);
    }
    for (const char* raw : {"Strict", "GLOBAL", "", " manual", "none"}) {
        EXPECT_FALSE(reviewPolicyLevelFromString(raw).has_value()) << raw;
    }
}

TEST(SessionPolicies, SaveWritesCompactObjectWithoutGlobalEntries) {
    TempHome home;
    HookCommand::saveSessionPolicies({{"s1", Level::strict}, {"s2", Level::global}, {"s3", Level::manual}});
    const auto text = perchwell::testing::readFile(HookCommand::sessionPoliciesPath());
    EXPECT_EQ(nlohmann::json::parse(text), (nlohmann::json{{"s1", "strict"}, {"s3", "manual"}}));
    EXPECT_EQ(text.find(' '), std::string::npos);
    const auto loaded = HookCommand::loadAllSessionPolicies();
    EXPECT_EQ(loaded, (std::map<std::string, Level>{{"s1", Level::strict}, {"s3", Level::manual}}));
}

TEST(SessionPolicies, UnreadableOrCorruptFilesCountAsEmpty) {
    struct Case {
        const char* content;
        std::map<std::string, Level> loaded;
        Level lookupS1;
    } cases[] = {
        {nullptr, {}, Level::global},
        {"", {}, Level::global},
        {"[\"s1\"]", {}, Level::global},
        {"{\"s1\":\"strict\"", {}, Level::global},
        {R"({"s1":"strict","s2":5})", {}, Level::global},
        {R"({"s1":"Strict","s2":"manual"})", {{"s2", Level::manual}}, Level::global},
        {R"({"s1":"global"})", {{"s1", Level::global}}, Level::global},
        {R"({"s1":"permissive"})", {{"s1", Level::permissive}}, Level::permissive},
    };
    for (const auto& c : cases) {
        TempHome home;
        if (c.content) {
            perchwell::testing::writeFile(HookCommand::sessionPoliciesPath(), c.content);
        }
        EXPECT_EQ(HookCommand::loadAllSessionPolicies(), c.loaded) << (c.content ? c.content : "(no file)");
        EXPECT_EQ(HookCommand::sessionPolicy(std::string("s1")), c.lookupS1);
        EXPECT_EQ(HookCommand::sessionPolicy(std::nullopt), Level::global);
    }
}

TEST(SessionPolicies, UpdateChangesOneSessionAndKeepsTheOthers) {
    TempHome home;
    HookCommand::updateSessionPolicy("a", Level::strict); // creates the file
    HookCommand::updateSessionPolicy("b", Level::manual);
    HookCommand::updateSessionPolicy("c", Level::global); // no entry to remove
    EXPECT_EQ(HookCommand::loadAllSessionPolicies(),
              (std::map<std::string, Level>{{"a", Level::strict}, {"b", Level::manual}}));
    HookCommand::updateSessionPolicy("a", Level::global);
    EXPECT_EQ(HookCommand::loadAllSessionPolicies(), (std::map<std::string, Level>{{"b", Level::manual}}));
}
