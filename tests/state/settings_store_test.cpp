#include "platform/defaults_domain.h"
#include "state/settings_store.h"
#include "support/store_fixture.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

using testing::FakeLoginItem;
using testing::readFile;
using testing::TempHome;
using testing::writeFile;

class SettingsStoreTest : public ::testing::Test {
protected:
    std::string defaultsPath() const { return home.path() + "/config/defaults.json"; }
    std::unique_ptr<SettingsStore> makeStore() {
        return std::make_unique<SettingsStore>(defaultsPath(), loginItem);
    }
    void storeRaw(const nlohmann::json& values) { writeFile(defaultsPath(), values.dump()); }
    nlohmann::json written() const { return nlohmann::json::parse(readFile(defaultsPath())); }

    TempHome home;
    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
};

TEST_F(SettingsStoreTest, FreshDomainYieldsTheDefaultsAndWritesNothing) {
    auto store = makeStore();
    EXPECT_TRUE(store->enabled());
    EXPECT_FALSE(store->mcpEnabled());
    EXPECT_EQ(store->mcpPort(), 7392);
    EXPECT_TRUE(store->mascotEnabled());
    EXPECT_EQ(store->mascotHomeCorner(), HomeCorner::topRight);
    EXPECT_TRUE(store->safePromptOnly());
    EXPECT_TRUE(store->gazeAutoHit());
    EXPECT_TRUE(store->agentKeepalive());
    EXPECT_FALSE(store->agentKeepaliveClosedLidMode());
    EXPECT_EQ(store->agentKeepaliveHoldSeconds(), 5400.0);
    EXPECT_FALSE(store->autoContinue());
    EXPECT_EQ(store->autoContinueIdleSeconds(), 60.0);
    EXPECT_FALSE(store->ollamaEnabled());
    EXPECT_EQ(store->ollamaBaseURL(), "http://localhost:11434");
    EXPECT_EQ(store->ollamaModel(), "qwen2.5:0.5b");
    EXPECT_FALSE(store->promptEnhancerEnabled());
    EXPECT_EQ(store->dangerousKeywords(),
              QStringList({"delete", "rm -rf", "drop database", "force push", "reset --hard"}));
    EXPECT_FALSE(store->startAtLogin());
    EXPECT_TRUE(store->startAtLoginError().isNull());
    EXPECT_FALSE(store->agentKeepaliveActive());
    EXPECT_FALSE(store->agentKeepaliveReleaseAt().isValid());
    EXPECT_FALSE(store->agentKeepaliveClosedLidActive());
    QCoreApplication::processEvents();
    EXPECT_FALSE(std::filesystem::exists(defaultsPath()));
}

TEST_F(SettingsStoreTest, EveryAssignmentWritesThroughAndPublishesTheValueEvenWhenEqual) {
    auto store = makeStore();
    QSignalSpy enabledSpy(store.get(), &SettingsStore::enabledChanged);
    QSignalSpy willChange(store.get(), &SettingsStore::objectWillChange);
    store->setEnabled(true);
    ASSERT_EQ(enabledSpy.count(), 1);
    EXPECT_EQ(enabledSpy.at(0).at(0).toBool(), true);
    EXPECT_EQ(willChange.count(), 1);
    EXPECT_EQ(written()["pv.enabled"], true);

    store->setMcpPort(8080);
    store->setAgentKeepaliveHoldSeconds(1800);
    store->setMascotHomeCorner(HomeCorner::bottomLeft);
    store->setOllamaModel("llama3");
    const auto j = written();
    EXPECT_EQ(j["pv.mcpPort"], 8080);
    EXPECT_EQ(j["pv.agentKeepaliveHoldSeconds"], 1800.0);
    EXPECT_EQ(j["pv.mascotHomeCorner"], "bottomLeft");
    EXPECT_EQ(j["pv.ollamaModel"], "llama3");
    // Only what was assigned is stored; defaults stay fallbacks.
    EXPECT_FALSE(j.contains("pv.mcpEnabled"));

    // A second store reads back what the first wrote.
    auto reread = makeStore();
    EXPECT_EQ(reread->mcpPort(), 8080);
    EXPECT_EQ(reread->mascotHomeCorner(), HomeCorner::bottomLeft);
    EXPECT_EQ(reread->ollamaModel(), "llama3");
}

TEST_F(SettingsStoreTest, SubscribersAreHandedTheAssignedValue) {
    auto store = makeStore();
    QStringList seen;
    QObject::connect(store.get(), &SettingsStore::dangerousKeywordsChanged,
                     [&seen](const QStringList& value) { seen = value; });
    store->setDangerousKeywords({"drop table", ""});
    EXPECT_EQ(seen, QStringList({"drop table", ""}));
    EXPECT_EQ(written()["pv.dangerousKeywordsJSON"], R"(["drop table",""])");
}

TEST_F(SettingsStoreTest, KeywordTextDecodingRules) {
    const QStringList defaults = SettingsStore::defaultDangerousKeywords();
    const struct {
        nlohmann::json stored;
        QStringList expected;
    } cases[] = {
        {"[]", {}},
        {R"(["sudo","  "])", {"sudo", "  "}},
        {"not json", defaults},
        {"[1,2]", defaults},
        {R"(["ok",3])", defaults},
        {R"({"a":"b"})", defaults},
        {42, defaults}, // not a string at all
    };
    for (const auto& c : cases) {
        storeRaw({{"pv.dangerousKeywordsJSON", c.stored}});
        EXPECT_EQ(makeStore()->dangerousKeywords(), c.expected) << c.stored.dump();
        // The stored text stays as it was until the next assignment.
        EXPECT_EQ(written()["pv.dangerousKeywordsJSON"], c.stored);
    }
}

TEST_F(SettingsStoreTest, StoredValuesAreTakenAsTheyAreWithoutClamping) {
    storeRaw({{"pv.mascotHomeCorner", "middle"},
              {"pv.mcpPort", 80},
              {"pv.autoContinueIdleSeconds", 5},
              {"pv.enabled", "no"},
              {"pv.mcpEnabled", "Yes"},
              {"pv.mascotEnabled", "off"},
              {"pv.ollamaBaseURL", "http://10.0.0.2:1234"}});
    auto store = makeStore();
    EXPECT_EQ(store->mascotHomeCorner(), HomeCorner::topRight);
    EXPECT_EQ(store->mcpPort(), 80);
    EXPECT_EQ(store->autoContinueIdleSeconds(), 5.0);
    // Booleans written as text read as the defaults domain reads them; anything else is
    // the registered default.
    EXPECT_FALSE(store->enabled());
    EXPECT_TRUE(store->mcpEnabled());
    EXPECT_TRUE(store->mascotEnabled());
    EXPECT_EQ(store->ollamaBaseURL(), "http://10.0.0.2:1234");
}

TEST_F(SettingsStoreTest, StartAtLoginFollowsTheServiceAtLaunchWithoutCallingIt) {
    loginItem->currentStatus = LoginItemStatus::enabled;
    auto store = makeStore();
    EXPECT_TRUE(store->startAtLogin());
    loginItem->currentStatus = LoginItemStatus::requiresApproval;
    EXPECT_FALSE(makeStore()->startAtLogin());
    EXPECT_EQ(loginItem->registerCalls + loginItem->unregisterCalls, 0);
}

TEST_F(SettingsStoreTest, StartAtLoginRegistersAndClearsTheError) {
    auto store = makeStore();
    store->setStartAtLoginError("old failure");
    store->setStartAtLogin(true);
    EXPECT_EQ(loginItem->registerCalls, 1);
    EXPECT_TRUE(store->startAtLoginError().isNull());
    // Its current value again: nothing happens.
    store->setStartAtLogin(true);
    EXPECT_EQ(loginItem->registerCalls, 1);
    store->setStartAtLogin(false);
    EXPECT_EQ(loginItem->unregisterCalls, 1);
    EXPECT_EQ(loginItem->currentStatus, LoginItemStatus::notRegistered);
}

TEST_F(SettingsStoreTest, FailedRegistrationSnapsBackOnTheNextTurnWithoutASecondCall) {
    auto store = makeStore();
    loginItem->failWith = "Operation not permitted";
    QSignalSpy changes(store.get(), &SettingsStore::startAtLoginChanged);
    store->setStartAtLogin(true);
    EXPECT_EQ(store->startAtLoginError(), "Operation not permitted");
    EXPECT_TRUE(store->startAtLogin()); // until the queued snap-back runs
    QCoreApplication::processEvents();
    EXPECT_FALSE(store->startAtLogin());
    ASSERT_EQ(changes.count(), 2);
    EXPECT_EQ(changes.at(1).at(0).toBool(), false);
    EXPECT_EQ(loginItem->registerCalls, 1);
    EXPECT_EQ(loginItem->unregisterCalls, 0);
    EXPECT_EQ(store->startAtLoginError(), "Operation not permitted");

    // Once back, the toggle works again.
    loginItem->failWith.reset();
    store->setStartAtLogin(true);
    EXPECT_EQ(loginItem->registerCalls, 2);
    EXPECT_TRUE(store->startAtLoginError().isNull());
}

TEST_F(SettingsStoreTest, FailureThatStillLeftTheWantedStateKeepsTheValue) {
    loginItem->currentStatus = LoginItemStatus::enabled;
    auto store = makeStore();
    loginItem->failWith = "unregister failed";
    loginItem->statusAfterFailure = LoginItemStatus::notRegistered; // the entry went away anyway
    store->setStartAtLogin(false);
    QCoreApplication::processEvents();
    EXPECT_FALSE(store->startAtLogin());
    EXPECT_EQ(store->startAtLoginError(), "unregister failed");
    EXPECT_EQ(loginItem->unregisterCalls, 1);
    EXPECT_EQ(loginItem->registerCalls, 0);
}

TEST_F(SettingsStoreTest, UnwritableDomainKeepsTheValueInMemory) {
    writeFile(home.path() + "/blocker", "a file where the directory should be");
    SettingsStore store(home.path() + "/blocker/defaults.json", loginItem);
    store.setMcpPort(9000);
    EXPECT_EQ(store.mcpPort(), 9000);
}

} // namespace
} // namespace perchwell
