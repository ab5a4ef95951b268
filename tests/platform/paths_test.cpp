#include "platform/paths.h"
#include "support/temp_home.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace perchwell;

TEST(Paths, FollowHomeAndXdgVariables) {
    perchwell::testing::TempHome home;
    EXPECT_EQ(Paths::dataDirectory(), home.path() + "/.local/share/perchwell");
    EXPECT_EQ(Paths::defaultsFile(), home.path() + "/.config/perchwell/defaults.json");
    EXPECT_EQ(Paths::claudeDirectory(), home.path() + "/.claude");

    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("CLAUDE_CONFIG_DIR", "/elsewhere/claude", 1);
    EXPECT_EQ(Paths::dataDirectory(), home.path() + "/.local/share/perchwell");
    EXPECT_EQ(Paths::configDirectory(), home.path() + "/.config/perchwell");
    EXPECT_EQ(Paths::claudeDirectory(), "/elsewhere/claude");
}

TEST(Paths, DataDirectoryIsCreatedOwnerOnly) {
    perchwell::testing::TempHome home;
    ASSERT_TRUE(Paths::ensureDataDirectory().ok());
    struct stat st {};
    ASSERT_EQ(::stat(Paths::dataDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}
