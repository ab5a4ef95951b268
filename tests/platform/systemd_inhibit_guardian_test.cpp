// The Linux closed-lid guardian on real processes: a stand-in systemd-inhibit (no logind
// here) grants or refuses the lock, and the guardian loop runs under it.
#include "keepalive/guardian_shell.h"
#include "platform/linux/systemd_inhibit_guardian.h"
#include "support/temp_home.h"
#include "support/wait_for.h"

#include <chrono>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace perchwell {
namespace {

using namespace std::chrono_literals;
using testing::readFile;
using testing::waitFor;
using testing::writeFile;

const std::string fakeInhibit = std::string(PERCHWELL_SOURCE_DIR) + "/tests/platform/fake-systemd-inhibit";

class SystemdInhibitGuardianTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("PV_FAKE_INHIBIT_LOG", log.c_str(), 1);
        ::unsetenv("PV_FAKE_INHIBIT_REFUSE");
        ::unsetenv("PV_FAKE_INHIBIT_DELAY");
    }
    static size_t count(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }
    std::string futureDeadline(int seconds) { return std::to_string(std::time(nullptr) + seconds) + "\n"; }
    // The guardian's pid, as the stand-in logged it before handing over.
    int guardianPid() {
        const std::string text = readFile(log);
        const auto at = text.find("pid ");
        return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 4);
    }
    bool alive(int pid) {
        // The guardian is init's child, not ours; an init that does not reap leaves a zombie.
        const std::string stat = pid > 0 ? readFile("/proc/" + std::to_string(pid) + "/stat") : std::string();
        const auto state = stat.rfind(") ");
        return state != std::string::npos && stat[state + 2] != 'Z';
    }

    testing::TempHome home;
    std::string log = home.path() + "/inhibit.log";
    std::string deadline = home.path() + "/it's here/closedlid-until";
    SystemdInhibitGuardian guardian{fakeInhibit};
};

TEST_F(SystemdInhibitGuardianTest, HoldsTheLidSwitchWhileTheDeadlineLiesAheadAndEndsWhenItIsGone) {
    struct Case {
        const char* name;
        std::string then; // written once the guardian runs; empty: the deadline just passes
    };
    const Case cases[] = {{"cleared", "0\n"}, {"garbled", "12x4\n"}, {"empty", ""}, {"passed", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log);
        const bool waitsOut = std::string(c.name) == "passed";
        writeFile(deadline, futureDeadline(waitsOut ? 4 : 600));
        const auto outcome = guardian.arm(lidGuardianLoop(deadline, 1));
        ASSERT_TRUE(outcome.ok) << outcome.message;
        const std::string arguments = readFile(log);
        EXPECT_NE(arguments.find("--what=handle-lid-switch --mode=block --who=Perchwell --why="),
                  std::string::npos)
            << arguments;
        EXPECT_EQ(count(arguments, "--what="), 1u) << "the lid switch alone, never sleep: " << arguments;
        const int pid = guardianPid();
        ASSERT_TRUE(alive(pid));
        if (!waitsOut) {
            std::this_thread::sleep_for(1500ms);
            EXPECT_TRUE(alive(pid)) << "the deadline still lies ahead";
            EXPECT_TRUE(std::filesystem::exists(deadline));
            writeFile(deadline, c.then);
        }
        EXPECT_TRUE(waitFor([&] { return !alive(pid); }, 10s));
        EXPECT_FALSE(std::filesystem::exists(deadline));
        // The application learns of the end through the descriptor it was handed.
        char byte = 0;
        ASSERT_TRUE(outcome.endWatch.valid());
        EXPECT_EQ(::read(outcome.endWatch.get(), &byte, 1), 0);
    }
}

TEST_F(SystemdInhibitGuardianTest, TheGuardianHoldsNoneOfTheApplicationsDescriptors) {
    // An inhibitor descriptor leaking into the guardian would outlive the application.
    const std::string marker = home.path() + "/held-by-the-application";
    writeFile(marker, "");
    const int leaky = ::open(marker.c_str(), O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(leaky, 3);
    writeFile(deadline, futureDeadline(600));
    const auto outcome = guardian.arm(lidGuardianLoop(deadline, 1));
    ASSERT_TRUE(outcome.ok) << outcome.message;
    const int pid = guardianPid();
    std::error_code error;
    // The loop's own pipes come and go; none of its descriptors may be ours.
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code gone;
        EXPECT_NE(std::filesystem::read_symlink(entry.path(), gone), marker) << entry.path();
    }
    EXPECT_FALSE(error) << error.message();
    ::close(leaky);
    writeFile(deadline, "0\n");
    EXPECT_TRUE(waitFor([&] { return !alive(pid); }, 10s));
}

TEST_F(SystemdInhibitGuardianTest, ARefusalOrAMissingProgramReportsTheSystemsWords) {
    ::setenv("PV_FAKE_INHIBIT_REFUSE", "1", 1);
    writeFile(deadline, futureDeadline(600));
    auto outcome = guardian.arm(lidGuardianLoop(deadline, 1));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "Failed to inhibit: Access denied");

    outcome = SystemdInhibitGuardian(home.path() + "/no-such-program").arm(lidGuardianLoop(deadline, 1));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "could not run " + home.path() + "/no-such-program");
}

} // namespace
} // namespace perchwell
