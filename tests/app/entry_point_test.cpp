#include "app/entry_point.h"
#include "app/instance_lock.h"
#include "support/process.h"
#include "support/temp_home.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace perchwell {
namespace {

using testing::binaryPath;
using testing::runProcess;

TEST(EntryPointTest, HookRoleIsChosenOnlyByAnExactArgumentAfterTheExecutable) {
    const struct {
        std::vector<std::string> args;
        bool hook;
    } cases[] = {
        {{"/usr/bin/perchwell", "hook"}, true},
        {{"perchwell", "--verbose", "x", "hook"}, true},
        {{"/opt/hook"}, false},
        {{"hook"}, false},
        {{"perchwell", "Hook"}, false},
        {{"perchwell", "--hook"}, false},
        {{"perchwell", "hooks"}, false},
        {{"perchwell"}, false},
        {{}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EntryPoint::isHookMode(c.args), c.hook) << (c.args.empty() ? "" : c.args.back());
    }
}

// The hook role runs for every tool use: it must never map Qt.
TEST(EntryPointTest, ExecutableHasNoQtDependency) {
    const auto result = runProcess({"/usr/bin/readelf", "-d", binaryPath("perchwell")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("(NEEDED)"), std::string::npos);
    EXPECT_EQ(result.out.find("Qt"), std::string::npos) << result.out;
    // The client runs first for every hooked event: Qt-free too, and free of the
    // JSON and regex libraries the hook role maps.
    const auto client = runProcess({"/usr/bin/readelf", "-d", binaryPath("pv-hook-client")});
    EXPECT_EQ(client.out.find("Qt"), std::string::npos) << client.out;
    EXPECT_EQ(client.out.find("simdjson"), std::string::npos) << client.out;
    EXPECT_EQ(client.out.find("pcre2"), std::string::npos) << client.out;
}

TEST(EntryPointTest, MissingDesktopLibraryIsAClearErrorNotACrash) {
    testing::TempHome home;
    const std::string lonely = home.path() + "/bin/perchwell";
    std::filesystem::create_directories(home.path() + "/bin");
    std::filesystem::copy_file(binaryPath("perchwell"), lonely);
    std::filesystem::permissions(lonely, std::filesystem::perms::owner_all);
    auto result = runProcess({lonely, "--headless"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("cannot find the desktop library libperchwell_desktop.so"), std::string::npos)
        << result.err;

    // A file that is no library.
    testing::writeFile(home.path() + "/lib/libperchwell_desktop.so", "not an ELF file");
    result = runProcess({lonely, "--headless"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("cannot load the desktop library"), std::string::npos) << result.err;

    // The hook role does not need it.
    result = runProcess({lonely, "hook"}, R"({"hook_event_name":"Stop"})");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "{\"hookSpecificOutput\":{\"hookEventName\":\"Stop\"}}\n");
}

TEST(EntryPointTest, InstalledTreeLoadsTheLibraryFromItsPrivateDirectory) {
    testing::TempHome home;
    const std::string prefix = home.path() + "/usr";
    std::filesystem::create_directories(prefix + "/bin");
    std::filesystem::create_directories(prefix + "/lib/perchwell");
    std::filesystem::copy_file(binaryPath("perchwell"), prefix + "/bin/perchwell");
    const std::string library = binaryPath("../lib/libperchwell_desktop.so");
    if (!std::filesystem::exists(library)) {
        GTEST_SKIP() << "built without the desktop library";
    }
    std::filesystem::copy_file(library, prefix + "/lib/perchwell/libperchwell_desktop.so");
    // With the lock held here, a loaded application says so and leaves at once.
    auto lock = InstanceLock::acquire();
    ASSERT_TRUE(lock);
    const auto result = runProcess({prefix + "/bin/perchwell", "--headless"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("another instance is already running"), std::string::npos) << result.err;
}

TEST(InstanceLockTest, OneHolderPerLockFileAcrossProcesses) {
    testing::TempHome home;
    const std::string path = InstanceLock::defaultPath();
    {
        auto first = InstanceLock::acquire(path);
        ASSERT_TRUE(first) << first.error().message;
        // Another process cannot take it while we hold it.
        const pid_t child = ::fork();
        if (child == 0) {
            ::_exit(InstanceLock::acquire(path) ? 0 : 7);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 7);
        // Nor this process through a second descriptor.
        const auto second = InstanceLock::acquire(path);
        ASSERT_FALSE(second);
        EXPECT_TRUE(InstanceLock::heldElsewhere(second.error())) << second.error().message;
    }
    EXPECT_TRUE(InstanceLock::acquire(path)) << "released with its holder";

    testing::writeFile(home.path() + "/blocker", "a file where the directory should be");
    const auto unusable = InstanceLock::acquire(home.path() + "/blocker/perchwell.lock");
    ASSERT_FALSE(unusable);
    EXPECT_FALSE(InstanceLock::heldElsewhere(unusable.error()));
}

} // namespace
} // namespace perchwell
