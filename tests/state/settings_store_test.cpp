#include "platform/defaults_domain.h"
#include "state/settings_store.h"
#include "support/store_fixture.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

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
    ino_t inode() const {
        struct stat st {};
        return ::stat(defaultsPath().c_str(), &st) == 0 ? st.st_ino : 0;
    }

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

TEST_F(SettingsStoreTest, EditsByOthersArePublishedWithinASecondAndNeverWrittenBack) {
    const std::string edited = R"({"pv.enabled": "no", "pv.mcpPort": 8000, "pv.ollamaModel": "llama3"})";
    const struct {
        const char* how;
        bool configDirectoryExists;
        std::function<void(const std::string& path)> edit;
    } writers[] = {
        {"atomic replace", true,
         [&edited](const std::string& path) {
             writeFile(path + ".new", edited);
             ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
         }},
        {"in-place write", true, [&edited](const std::string& path) { writeFile(path, edited); }},
        {"another locking writer", true,
         [](const std::string& path) {
             DefaultsDomain other(path);
             ASSERT_TRUE(other.set("pv.enabled", false).ok());
             ASSERT_TRUE(other.set("pv.mcpPort", 8000).ok());
         }},
        {"config directory made later", false,
         [&edited](const std::string& path) { writeFile(path, edited); }},
    };
    for (const auto& writer : writers) {
        std::filesystem::remove_all(home.path() + "/config");
        if (writer.configDirectoryExists) {
            storeRaw({{"pv.ollamaModel", "llama3"}});
        }
        auto store = makeStore();
        QSignalSpy enabled(store.get(), &SettingsStore::enabledChanged);
        QSignalSpy port(store.get(), &SettingsStore::mcpPortChanged);
        QSignalSpy model(store.get(), &SettingsStore::ollamaModelChanged);

        writer.edit(defaultsPath());
        const ino_t editedInode = inode();
        EXPECT_TRUE(QTest::qWaitFor([&] { return enabled.count() == 1 && port.count() == 1; }, 1000))
            << writer.how;
        EXPECT_FALSE(store->enabled()) << writer.how;
        EXPECT_EQ(store->mcpPort(), 8000) << writer.how;
        ASSERT_EQ(port.count(), 1) << writer.how;
        EXPECT_EQ(port.at(0).at(0).toLongLong(), 8000) << writer.how;

        // Nothing is echoed or written back once the store has caught up.
        QTest::qWait(3 * SettingsStore::reloadDelayMs);
        EXPECT_EQ(enabled.count(), 1) << writer.how;
        EXPECT_EQ(model.count(), writer.configDirectoryExists ? 0 : 1) << writer.how;
        EXPECT_EQ(inode(), editedInode) << writer.how;
    }
}

TEST_F(SettingsStoreTest, OwnWritesAreNotPublishedAgainWhenTheFileComesBack) {
    auto store = makeStore();
    QSignalSpy willChange(store.get(), &SettingsStore::objectWillChange);
    QSignalSpy enabled(store.get(), &SettingsStore::enabledChanged);
    store->setEnabled(false);
    store->setMcpPort(9000);
    store->setEnabled(true);
    store->setEnabled(false);
    QTest::qWait(4 * SettingsStore::reloadDelayMs);
    EXPECT_EQ(enabled.count(), 3);
    EXPECT_EQ(willChange.count(), 4);
    EXPECT_FALSE(store->enabled());
    EXPECT_EQ(store->mcpPort(), 9000);
}

TEST_F(SettingsStoreTest, AFileThatStopsParsingPublishesNothingUntilItIsMended) {
    storeRaw({{"pv.mcpPort", 8000}});
    auto store = makeStore();
    QSignalSpy willChange(store.get(), &SettingsStore::objectWillChange);
    writeFile(defaultsPath(), R"({"pv.mcpPort": 80)");
    QTest::qWait(3 * SettingsStore::reloadDelayMs);
    EXPECT_EQ(willChange.count(), 0);
    EXPECT_EQ(store->mcpPort(), 8000);
    writeFile(defaultsPath(), R"({"pv.mcpPort": 80})");
    EXPECT_TRUE(QTest::qWaitFor([&] { return store->mcpPort() == 80; }, 1000));
    EXPECT_FALSE(std::filesystem::exists(defaultsPath() + ".corrupt"));
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
