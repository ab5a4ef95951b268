#include "app/entry_point.h"
#include "app/instance_lock.h"
#include "support/process.h"
#include "support/temp_home.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
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

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitizedBuild = true;
#else
constexpr bool sanitizedBuild = false;
#endif
#else
constexpr bool sanitizedBuild = false;
#endif

// The shared libraries an executable asks the loader for (its DT_NEEDED entries).
std::vector<std::string> neededLibraries(const std::string& binary) {
    const auto result = runProcess({"/usr/bin/readelf", "-d", "-W", binary});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> needed;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);) {
        const auto open = line.find("(NEEDED)");
        const auto from = line.find('[', open == std::string::npos ? line.size() : open);
        const auto to = line.find(']', from == std::string::npos ? line.size() : from);
        if (open != std::string::npos && from != std::string::npos && to != std::string::npos) {
            needed.push_back(line.substr(from + 1, to - from - 1));
        }
    }
    return needed;
}

// The hook role and the client start for every tool use: each maps the C library and
// nothing else (the C++ runtime, PCRE2 and the JSON reader are linked in).
TEST(EntryPointTest, HookBinariesNeedOnlyTheCLibrary) {
    if (sanitizedBuild) {
        GTEST_SKIP() << "sanitizer builds keep the shared C++ runtime";
    }
    for (const std::string name : {"perchwell", "pv-hook-client"}) {
        const auto needed = neededLibraries(binaryPath(name));
        EXPECT_FALSE(needed.empty()) << name;
        for (const std::string& library : needed) {
            const bool allowed =
                library == "libc.so.6" || library == "libm.so.6" || library.rfind("ld-linux", 0) == 0;
            EXPECT_TRUE(allowed) << name << " needs " << library;
        }
    }
}

// The application role dlopens a library that uses the shared libstdc++; if the
// executable exported its private copy, the library would bind to it.
TEST(EntryPointTest, ExecutableExportsNothingOfItsStaticRuntime) {
    if (sanitizedBuild) {
        GTEST_SKIP() << "sanitizer runtimes export their operator new";
    }
    const auto symbols = runProcess({"/usr/bin/readelf", "--dyn-syms", "-W", binaryPath("perchwell")});
    ASSERT_EQ(symbols.exitCode, 0) << symbols.err;
    std::istringstream in(symbols.out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string num, value, size, type, bind, vis, ndx, name;
        if (!(fields >> num >> value >> size >> type >> bind >> vis >> ndx >> name) || ndx == "UND" ||
            ndx == "Ndx") {
            continue;
        }
        EXPECT_NE(name.rfind("_Z", 0), 0u) << "exported: " << line;
    }
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
