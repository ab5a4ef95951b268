#include "hooks/hook_installer.h"
#include "install/installation_manager.h"
#include "install/scripted_installation_ui.h"
#include "support/process.h"
#include "support/temp_home.h"
#include "support/wait_for.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace perchwell {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TEST(InstallationManagerLayoutTest, OnlyAnInstallPrefixCountsAsInstalled) {
    testing::TempHome home;
    const std::string root = home.path();
    writeFile(root + "/usr/lib/perchwell/libperchwell_desktop.so", "");
    writeFile(root + "/build/lib/libperchwell_desktop.so", "");
    fs::create_directories(root + "/usr/bin");
    fs::create_directories(root + "/build/bin");
    fs::create_directories(root + "/bare/bin");
    fs::create_directories(root + "/usr/sbin");
    fs::create_symlink(root + "/usr/bin", root + "/linked");
    const struct {
        std::string dir;
        bool installed;
    } cases[] = {
        {root + "/usr/bin", true},    {root + "/linked", true}, // judged where it really is
        {root + "/build/bin", false}, {root + "/bare/bin", false},
        {root + "/usr/sbin", false},  {root + "/missing/bin", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallationManager::isProperlyInstalled(c.dir), c.installed) << c.dir;
    }
}

TEST(InstallationManagerLayoutTest, TheDesktopEntryNamesTheInstalledExecutable) {
    const std::string entry =
        "[Desktop Entry]\nName=Perchwell\nExec=perchwell --flag\nTryExec=perchwell\nIcon=x\n";
    EXPECT_EQ(InstallationManager::desktopEntryFor(entry, "/home/a b/.local/bin/perchwell"),
              "[Desktop Entry]\nName=Perchwell\nExec=\"/home/a b/.local/bin/perchwell\" --flag\n"
              "TryExec=/home/a b/.local/bin/perchwell\nIcon=x\n");
}

// A copy run from a build tree (bin/ beside lib/ and share/), in a temporary HOME.
class InstallationManagerTest : public ::testing::Test {
protected:
    InstallationManagerTest() {
        for (const char* program : {"perchwell", "pv-hook-client", "pv-token"}) {
            writeFile(tree + "/bin/" + program, std::string("#!/bin/sh\n# ") + program + "\n");
        }
        writeFile(tree + "/lib/libperchwell_desktop.so", "library");
        writeFile(tree + "/share/applications/perchwell.desktop", "[Desktop Entry]\nExec=perchwell\n");
        writeFile(tree + "/share/icons/hicolor/scalable/apps/perchwell.svg", "<svg/>");
        locations = {tree + "/bin", home.path(), {"--headless"}};
    }

    bool offer() { return InstallationManager::checkAndPromptIfNeeded(ui, locations); }

    testing::TempHome home;
    std::string tree = home.path() + "/src/build";
    std::string local = home.path() + "/.local";
    InstallationManager::Locations locations;
    testing::ScriptedUi ui;
};

TEST_F(InstallationManagerTest, NotNowCopiesNothing) {
    ui.accept = false;
    EXPECT_FALSE(offer());
    ASSERT_EQ(ui.prompts.size(), 1u);
    EXPECT_NE(ui.prompts[0].find("Install Perchwell\nPerchwell is currently running from:\n" + tree + "/bin"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(local));
    EXPECT_TRUE(ui.launched.empty());
}

TEST_F(InstallationManagerTest, InstallsUnderLocalRepointsOurHookAndRelaunches) {
    writeFile(local + "/bin/perchwell", "an older copy");
    ASSERT_TRUE(HookInstaller::install(tree + "/bin"));
    ASSERT_TRUE(offer());

    EXPECT_EQ(readFile(local + "/bin/pv-hook-client"), "#!/bin/sh\n# pv-hook-client\n");
    EXPECT_EQ(readFile(local + "/bin/perchwell"), "#!/bin/sh\n# perchwell\n");
    EXPECT_EQ(::access((local + "/bin/pv-token").c_str(), X_OK), 0);
    EXPECT_EQ(readFile(local + "/lib/perchwell/libperchwell_desktop.so"), "library");
    EXPECT_EQ(readFile(local + "/share/applications/perchwell.desktop"),
              "[Desktop Entry]\nExec=\"" + local + "/bin/perchwell\"\n");
    EXPECT_TRUE(isFile(local + "/share/icons/hicolor/scalable/apps/perchwell.svg"));
    EXPECT_TRUE(InstallationManager::isProperlyInstalled(local + "/bin"));

    const auto status = HookInstaller::status();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->commands, std::vector<std::string>{HookInstaller::hookCommand(local + "/bin")});
    EXPECT_EQ(ui.launched, (std::vector<std::string>{local + "/bin/perchwell", "--headless"}));
    EXPECT_EQ(ui.terminations, 1);
    EXPECT_TRUE(ui.failures.empty());
}

TEST_F(InstallationManagerTest, HooksThatWereNotInstalledStaySo) {
    ASSERT_TRUE(offer());
    const auto status = HookInstaller::status();
    ASSERT_TRUE(status);
    EXPECT_FALSE(status->fileExists);
}

TEST_F(InstallationManagerTest, EveryFailureIsShownAndTheRunningCopyCarriesOn) {
    const struct {
        const char* name;
        std::function<void()> arrange;
        std::string shown;
    } cases[] = {
        {"prefix is a file", [&] { writeFile(local, "x"); }, "Could not create " + local + "/bin: "},
        {"old copy cannot be removed", [&] { writeFile(local + "/bin/perchwell/inside", "x"); },
         "Could not remove the old copy: "},
        {"no desktop library", [&] { fs::remove(tree + "/lib/libperchwell_desktop.so"); },
         "Could not copy Perchwell to " + local + ": cannot read "},
        {"relaunch fails",
         [&] { ui.starter = [](auto&, auto&) { return Result<void>(Error{"no such file"}); }; },
         "Could not start " + local + "/bin/perchwell: no such file"},
    };
    for (const auto& c : cases) {
        testing::removeTree(local);
        writeFile(tree + "/lib/libperchwell_desktop.so", "library");
        ui = testing::ScriptedUi();
        c.arrange();
        EXPECT_FALSE(offer()) << c.name;
        ASSERT_EQ(ui.failures.size(), 1u) << c.name;
        EXPECT_EQ(ui.failures[0].rfind(c.shown, 0), 0u) << c.name << ": " << ui.failures[0];
        EXPECT_EQ(ui.terminations, 0) << c.name;
    }
    ui = testing::ScriptedUi();
    testing::removeTree(local);
    writeFile(local + "/bin/perchwell/inside", "x");
    offer();
    ASSERT_EQ(ui.failures.size(), 1u);
    EXPECT_NE(ui.failures[0].find("\n\nDelete " + local + "/bin/perchwell manually, then try again."),
              std::string::npos);
}

// The real build tree: the relaunched copy runs from ~/.local and answers on the hook
// socket; the hook entries name it.
TEST(InstallationFromBuildTreeTest, TheRelaunchedCopyRunsFromLocal) {
    const std::string bin =
        testing::binaryPath("perchwell").substr(0, testing::binaryPath("perchwell").rfind('/'));
    if (!isFile(bin + "/../lib/libperchwell_desktop.so")) {
        GTEST_SKIP() << "no desktop library in this build";
    }
    testing::TempHome home;
    ASSERT_TRUE(HookInstaller::install(bin));
    std::unique_ptr<testing::BackgroundProcess> app;
    testing::ScriptedUi ui;
    ui.starter = [&](const std::string& executable, const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{executable};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        app = std::make_unique<testing::BackgroundProcess>(argv, home.path() + "/app.err");
        return Result<void>();
    };
    ASSERT_TRUE(InstallationManager::checkAndPromptIfNeeded(ui, {bin, home.path(), {"--headless"}}));
    ASSERT_TRUE(app);
    const std::string socket = home.path() + "/.local/share/perchwell/hook.sock";
    EXPECT_TRUE(testing::waitFor([&] { return fs::exists(socket); }, std::chrono::seconds(20)))
        << readFile(home.path() + "/app.err");
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(app->pid()) + "/exe"),
              home.path() + "/.local/bin/perchwell");
    const auto status = HookInstaller::status();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->commands,
              std::vector<std::string>{HookInstaller::hookCommand(home.path() + "/.local/bin")});
    EXPECT_EQ(app->stop(SIGTERM), 0);
}

} // namespace
} // namespace perchwell
