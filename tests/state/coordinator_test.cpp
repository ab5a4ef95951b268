#include "state/coordinator.h"
#include "state/settings_store.h"
#include "support/log_capture.h"
#include "support/recording_mascot.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

using testing::LogCapture;
using testing::RecordingMascot;

const std::string active = "watcher active (hook + workflow mode)";
const std::string paused = "watcher paused";

class CoordinatorTest : public ::testing::Test {
protected:
    testing::TempHome home;
    SettingsStore store{home.path() + "/defaults.json", nullptr};
    RecordingMascot mascot;
    LogCapture logs;
};

TEST_F(CoordinatorTest, DisabledAtLaunchShowsPausedThenEnablingShowsPacing) {
    store.setEnabled(false);
    Coordinator coordinator(store, &mascot);
    coordinator.start();
    EXPECT_EQ(mascot.current, MascotState::paused());
    EXPECT_EQ(logs.messages("coord"), std::vector<std::string>{paused});
    store.setEnabled(true);
    EXPECT_EQ(mascot.current, MascotState::pacing());
    EXPECT_EQ(logs.messages("coord"), (std::vector<std::string>{paused, active}));
    EXPECT_TRUE(coordinator.isActive());
}

TEST_F(CoordinatorTest, ResumeShowsPacingOnlyWhenEnabled) {
    Coordinator coordinator(store, &mascot);
    coordinator.start();
    coordinator.suspend();
    EXPECT_FALSE(coordinator.isActive());
    mascot.set(MascotState::exercising("eye break"));
    logs.clear();
    coordinator.resume();
    EXPECT_EQ(mascot.current, MascotState::pacing());
    EXPECT_EQ(logs.messages("coord"), std::vector<std::string>{active});

    store.setEnabled(false);
    coordinator.suspend();
    mascot.set(MascotState::exercising("eye break"));
    logs.clear();
    coordinator.resume();
    EXPECT_EQ(mascot.current, MascotState::exercising("eye break"));
    EXPECT_TRUE(logs.messages("coord").empty());
}

TEST_F(CoordinatorTest, NestedSuspensionsNeedAsManyResumesAndNeverGoBelowZero) {
    Coordinator coordinator(store, &mascot);
    coordinator.resume();
    EXPECT_EQ(coordinator.suspendCount(), 0);
    coordinator.suspend();
    coordinator.suspend();
    coordinator.resume();
    EXPECT_EQ(coordinator.suspendCount(), 1);
    EXPECT_FALSE(coordinator.isActive());
    coordinator.resume();
    coordinator.resume();
    EXPECT_EQ(coordinator.suspendCount(), 0);
    EXPECT_TRUE(coordinator.isActive());
}

TEST_F(CoordinatorTest, AssigningTheCurrentValueShowsNothing) {
    Coordinator coordinator(store, &mascot);
    store.setEnabled(true);
    store.setEnabled(true);
    EXPECT_TRUE(mascot.history.empty());
    EXPECT_TRUE(logs.messages("coord").empty());
    store.setEnabled(false);
    store.setEnabled(false);
    EXPECT_EQ(mascot.history, std::vector<MascotState>{MascotState::paused()});
}

TEST_F(CoordinatorTest, SetEnabledWritesTheSettingAndShowsTheState) {
    Coordinator coordinator(store, &mascot);
    coordinator.setEnabled(false);
    EXPECT_FALSE(store.enabled());
    EXPECT_EQ(mascot.current, MascotState::paused());
    // Its current value again: still written and shown, as start() would.
    logs.clear();
    coordinator.setEnabled(false);
    EXPECT_EQ(logs.messages("coord"), std::vector<std::string>{paused});
    // A suspension keeps it paused even when enabled.
    coordinator.suspend();
    coordinator.setEnabled(true);
    EXPECT_EQ(mascot.current, MascotState::paused());
}

TEST_F(CoordinatorTest, PausingKeepsWhatWasEditedInTheSettingsFileMeanwhile) {
    Coordinator coordinator(store, &mascot);
    store.setMascotHomeCorner(HomeCorner::bottomLeft);
    // Edited by hand at once, before the store has even seen it.
    auto edited = nlohmann::json::parse(testing::readFile(store.defaultsPath()));
    edited["pv.hookHardDeny"] = true;
    edited["pv.safePromptOnly"] = false;
    testing::writeFile(store.defaultsPath(), edited.dump());

    coordinator.setEnabled(false);
    EXPECT_EQ(nlohmann::json::parse(testing::readFile(store.defaultsPath())),
              (nlohmann::json{{"pv.enabled", false},
                              {"pv.mascotHomeCorner", "bottomLeft"},
                              {"pv.hookHardDeny", true},
                              {"pv.safePromptOnly", false}}));
    EXPECT_EQ(mascot.current, MascotState::paused());
}

TEST_F(CoordinatorTest, WithoutAMascotTheStateIsOnlyLogged) {
    Coordinator coordinator(store, nullptr);
    coordinator.start();
    store.setEnabled(false);
    EXPECT_EQ(logs.messages("coord"), (std::vector<std::string>{active, paused}));
}

} // namespace
} // namespace perchwell
