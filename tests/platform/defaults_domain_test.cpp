#include "platform/defaults_domain.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace perchwell;
using perchwell::testing::TempHome;

TEST(DefaultsDomain, MissingOrCorruptFileIsEmptyAndRegisteredDefaultsAreFallbacks) {
    TempHome home;
    for (const char* content : {"", "not json", "[1,2]"}) {
        DefaultsDomain d(home.path() + "/d.json");
        if (*content) {
            perchwell::testing::writeFile(d.path(), content);
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
    perchwell::testing::writeFile(home.path() + "/d.json",
                                  R"({"b":"yes","i":"7","d":[1],"s":5,"n":1,"f":2.9})");
    DefaultsDomain d(home.path() + "/d.json");
    EXPECT_FALSE(d.boolForKey("b"));
    EXPECT_EQ(d.integerForKey("i"), 0);
    EXPECT_EQ(d.doubleForKey("d"), 0.0);
    EXPECT_FALSE(d.stringForKey("s").has_value());
    EXPECT_TRUE(d.boolForKey("n"));
    EXPECT_EQ(d.integerForKey("f"), 2);
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
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(DefaultsDomain, FailedWriteKeepsInMemoryValueAndReportsError) {
    TempHome home;
    perchwell::testing::writeFile(home.path() + "/file", "x");
    DefaultsDomain d(home.path() + "/file/defaults.json"); // parent is a file
    const auto result = d.set("pv.mcpPort", 80);
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(result.error().message.empty());
    EXPECT_EQ(d.integerForKey("pv.mcpPort"), 80);
}
