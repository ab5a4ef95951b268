// The settings window offscreen: its controls follow the store both ways, and its
// actions reach the hook installer, the keepalive commands and Ollama.
#include "views/settings/settings_view.h"

#include "../assist/fake_ollama_server.h"
#include "api/mcp_server.h"
#include "companion/notification_bus.h"
#include "companion/permissions_manager.h"
#include "hooks/hook_installer.h"
#include "platform/defaults_domain.h"
#include "platform/paths.h"
#include "support/permission_fakes.h"
#include "support/store_fixture.h"
#include "views/settings/about_pane.h"
#include "views/settings/assistant_pane.h"
#include "views/settings/general_pane.h"
#include "views/settings/keywords_section.h"
#include "views/settings/mcp_pane.h"
#include "views/settings/ollama_section.h"
#include "views/settings/permissions_pane.h"
#include "views/settings/settings_controls.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

using testing::FakeOllamaServer;

class SettingsViewTest : public ::testing::Test {
protected:
    SettingsView& open(SettingsTab first = SettingsTab::general) {
        SettingsActions actions;
        actions.executableDir = home().path() + "/opt/perchwell/bin";
        actions.openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return false;
        };
        view = std::make_unique<SettingsView>(store(), permissions, server.get(), first, actions);
        view->show();
        return *view;
    }
    SettingsStore& store() { return fixture.store; }
    const testing::TempHome& home() { return fixture.home; }

    testing::StoreFixture fixture;
    std::shared_ptr<testing::FakeAccessibilityTrust> trust =
        std::make_shared<testing::FakeAccessibilityTrust>();
    std::shared_ptr<testing::FakeCameraAccess> camera = std::make_shared<testing::FakeCameraAccess>();
    PermissionsManager permissions{trust, camera};
    std::unique_ptr<MCPServer> server = std::make_unique<MCPServer>(store());
    std::vector<QUrl> opened;
    std::unique_ptr<SettingsView> view;
};

TEST_F(SettingsViewTest, TabsComeInOrderAndTheFirstIsTheOneAskedFor) {
    for (SettingsTab first : allSettingsTabs) {
        SettingsView& window = open(first);
        EXPECT_EQ(window.currentTab(), first) << rawValue(first).toStdString();
        EXPECT_EQ(window.windowTitle(), "Perchwell");
        EXPECT_EQ(window.size(), QSize(540, 620));
    }
    const QStringList titles{"General", "Agent", "Permissions", "MCP / Integrations", "About"};
    for (int i = 0; i < titles.size(); ++i) {
        EXPECT_EQ(view->tabs()->tabText(i), titles[i]);
        EXPECT_FALSE(view->tabs()->tabIcon(i).isNull());
    }
    EXPECT_EQ(settingsTabFromRaw("assistant"), SettingsTab::assistant);
    EXPECT_EQ(settingsTabFromRaw("Agent"), std::nullopt);
}

// Each toggle shows its property, follows a change made through the store while the
// window is open, and assigns the property when clicked.
TEST_F(SettingsViewTest, TogglesFollowTheStoreBothWays) {
    store().setOllamaEnabled(true); // so that the prompt-rewrite toggle may be clicked
    SettingsView& window = open();
    struct Case {
        const char* name;
        QCheckBox* box;
        bool (SettingsStore::*get)() const;
        void (SettingsStore::*set)(bool);
    };
    const Case cases[] = {
        {"enabled", window.general()->watcherToggle(), &SettingsStore::enabled, &SettingsStore::setEnabled},
        {"safePromptOnly", window.general()->safePromptToggle(), &SettingsStore::safePromptOnly,
         &SettingsStore::setSafePromptOnly},
        {"mascotEnabled", window.general()->mascotToggle(), &SettingsStore::mascotEnabled,
         &SettingsStore::setMascotEnabled},
        {"gazeAutoHit", window.general()->gazeToggle(), &SettingsStore::gazeAutoHit,
         &SettingsStore::setGazeAutoHit},
        {"agentKeepalive", window.assistant()->keepaliveToggle(), &SettingsStore::agentKeepalive,
         &SettingsStore::setAgentKeepalive},
        {"closedLid", window.assistant()->closedLidToggle(), &SettingsStore::agentKeepaliveClosedLidMode,
         &SettingsStore::setAgentKeepaliveClosedLidMode},
        {"autoContinue", window.assistant()->autoContinueToggle(), &SettingsStore::autoContinue,
         &SettingsStore::setAutoContinue},
        {"promptEnhancer", window.assistant()->promptRewriteToggle(), &SettingsStore::promptEnhancerEnabled,
         &SettingsStore::setPromptEnhancerEnabled},
        {"ollamaEnabled", window.assistant()->ollama()->enabledToggle(), &SettingsStore::ollamaEnabled,
         &SettingsStore::setOllamaEnabled},
        {"mcpEnabled", window.mcp()->enabledToggle(), &SettingsStore::mcpEnabled,
         &SettingsStore::setMcpEnabled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool initial = (store().*c.get)();
        EXPECT_EQ(c.box->isChecked(), initial);
        (store().*c.set)(!initial);
        EXPECT_EQ(c.box->isChecked(), !initial);
        c.box->click();
        EXPECT_EQ((store().*c.get)(), initial);
        EXPECT_EQ(c.box->isChecked(), initial);
    }
}

TEST_F(SettingsViewTest, AHandEditOfTheDefaultsFileShowsInTheOpenWindow) {
    SettingsView& window = open();
    ASSERT_TRUE(window.general()->watcherToggle()->isChecked());
    DefaultsDomain other(store().defaultsPath());
    ASSERT_TRUE(other.set(SettingsStore::Keys::enabled, false).ok());
    ASSERT_TRUE(other.set(SettingsStore::Keys::autoContinueIdleSeconds, 120.0).ok());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.general()->watcherToggle()->isChecked(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.assistant()->idleStepper()->value() == 120; }, 5000));
}

TEST_F(SettingsViewTest, SteppersShowWholeUnitsAndWriteSeconds) {
    store().setAgentKeepaliveHoldSeconds(5400);
    store().setAutoContinueIdleSeconds(60);
    SettingsView& window = open();
    QSpinBox* hold = window.assistant()->holdStepper();
    QSpinBox* idle = window.assistant()->idleStepper();
    EXPECT_EQ(hold->text(), "90 min");
    EXPECT_EQ(idle->text(), "60 sec");
    EXPECT_EQ(hold->minimum(), 15);
    EXPECT_EQ(hold->maximum(), 240);
    EXPECT_EQ(idle->minimum(), 30);
    EXPECT_EQ(idle->maximum(), 600);

    hold->stepUp();
    EXPECT_EQ(store().agentKeepaliveHoldSeconds(), 6300);
    idle->stepDown();
    EXPECT_EQ(store().autoContinueIdleSeconds(), 30);
    idle->stepDown();
    EXPECT_EQ(store().autoContinueIdleSeconds(), 30) << "the stepper stops at its lower bound";
    store().setAgentKeepaliveHoldSeconds(14400);
    EXPECT_EQ(hold->text(), "240 min");
}

TEST_F(SettingsViewTest, PromptRewritesCannotBeTurnedOnWhileOllamaIsOff) {
    store().setOllamaEnabled(false);
    store().setPromptEnhancerEnabled(false);
    SettingsView& window = open(SettingsTab::assistant);
    QCheckBox* rewrite = window.assistant()->promptRewriteToggle();
    EXPECT_FALSE(rewrite->isEnabled());
    EXPECT_TRUE(window.assistant()->promptRewriteHint()->isVisibleTo(view.get()));
    EXPECT_EQ(window.assistant()->promptRewriteHint()->text(), "Enable Ollama below before turning this on.");
    QTest::mouseClick(rewrite, Qt::LeftButton);
    EXPECT_FALSE(store().promptEnhancerEnabled());

    window.assistant()->ollama()->enabledToggle()->click();
    EXPECT_TRUE(store().ollamaEnabled());
    EXPECT_TRUE(rewrite->isEnabled());
    EXPECT_FALSE(window.assistant()->promptRewriteHint()->isVisibleTo(view.get()));
    rewrite->click();
    EXPECT_TRUE(store().promptEnhancerEnabled());
}

TEST_F(SettingsViewTest, KeepaliveStatusLineAndVuveVurerButton) {
    const QDateTime at(QDate(2026, 3, 4), QTime(15, 45));
    const QString time = QLocale::system().toString(at.time(), QLocale::ShortFormat);
    struct Case {
        bool enabled;
        bool active;
        QString reason;
        QDateTime releaseAt;
        QDateTime lastActivity;
        QString expected;
    };
    const Case cases[] = {
        {false, true, "Vuve Vurer Mode", at, at, "Status: off"},
        {true, true, {}, {}, {}, "Status: Holding awake"},
        {true, true, "Vuve Vurer Mode", at, {}, "Status: Vuve Vurer Mode, until " + time},
        {true, false, {}, {}, {}, "Status: waiting for live Claude Code activity"},
        {true, false, {}, {}, at, "Status: waiting, last activity " + time},
    };
    SettingsView& window = open(SettingsTab::assistant);
    for (const Case& c : cases) {
        store().setAgentKeepalive(c.enabled);
        store().setAgentKeepaliveActive(c.active);
        store().setAgentKeepaliveReason(c.reason);
        store().setAgentKeepaliveReleaseAt(c.releaseAt);
        store().setAgentKeepaliveLastActivityAt(c.lastActivity);
        EXPECT_EQ(window.assistant()->keepaliveStatus(), c.expected);
        EXPECT_EQ(AssistantPane::agentKeepaliveStatusText(store()), c.expected);
    }

    QSignalSpy posted(&NotificationBus::shared(), &NotificationBus::posted);
    store().setAgentKeepaliveActive(false);
    EXPECT_EQ(window.assistant()->vuveVurerButton()->text(), "Start Vuve Vurer now");
    window.assistant()->vuveVurerButton()->click();
    store().setAgentKeepaliveActive(true);
    EXPECT_EQ(window.assistant()->vuveVurerButton()->text(), "Stop Vuve Vurer");
    window.assistant()->vuveVurerButton()->click();
    ASSERT_EQ(posted.size(), 2);
    EXPECT_EQ(posted[0][0].toString(), "PerchwellAgentKeepaliveStartRequested");
    EXPECT_EQ(posted[1][0].toString(), "PerchwellAgentKeepaliveStopRequested");
}

TEST_F(SettingsViewTest, ClosedLidTextsFollowTheModeTheArmingAndTheError) {
    SettingsView& window = open(SettingsTab::assistant);
    AssistantPane& pane = *window.assistant();
    store().setAgentKeepaliveClosedLidMode(false);
    EXPECT_EQ(pane.closedLidState(), "");
    store().setAgentKeepaliveClosedLidMode(true);
    EXPECT_EQ(pane.closedLidState(),
              "Closed-Lid Mode will ask for administrator approval when Vuve Vurer starts.");
    store().setAgentKeepaliveClosedLidActive(true);
    EXPECT_EQ(pane.closedLidState(), "Closed-Lid Mode is armed.");
    EXPECT_EQ(pane.closedLidError(), "");
    store().setAgentKeepaliveClosedLidError("systemd-inhibit: Access denied");
    EXPECT_EQ(pane.closedLidError(), "systemd-inhibit: Access denied");
    store().setAgentKeepaliveClosedLidError({});
    EXPECT_EQ(pane.closedLidError(), "");
}

TEST_F(SettingsViewTest, PortStepperIsDisabledWhileTheApiIsOffAndStatusFollowsTheServer) {
    store().setMcpEnabled(false);
    store().setMcpPort(7392);
    SettingsView& window = open(SettingsTab::mcp);
    MCPPane& pane = *window.mcp();
    EXPECT_FALSE(pane.portStepper()->isEnabled());
    EXPECT_EQ(pane.portStepper()->value(), 7392);
    EXPECT_EQ(pane.status()->text(), "Starting...");
    EXPECT_TRUE(pane.endpoints().startsWith("http://127.0.0.1:7392\n"));
    EXPECT_TRUE(pane.endpoints().contains("GET /api/events"));
    EXPECT_TRUE(pane.endpoints().endsWith("See README for the MCP wrapper."));

    pane.enabledToggle()->click();
    EXPECT_TRUE(store().mcpEnabled());
    EXPECT_TRUE(pane.portStepper()->isEnabled());
    pane.portStepper()->stepUp();
    EXPECT_EQ(store().mcpPort(), 7393);
    EXPECT_TRUE(pane.endpoints().startsWith("http://127.0.0.1:7393\n"));

    QTcpServer blocker;
    ASSERT_TRUE(blocker.listen(QHostAddress::LocalHost, 0));
    store().setMcpPort(blocker.serverPort());
    server->start();
    EXPECT_TRUE(pane.status()->text().startsWith("Failed to start: ")) << pane.status()->text().toStdString();
    EXPECT_EQ(pane.status()->symbol(), "exclamationmark.triangle.fill");
    blocker.close();
    server->start();
    ASSERT_TRUE(server->isListening());
    EXPECT_EQ(pane.status()->text(), QStringLiteral("Listening on port %1").arg(server->port()));
    server->stop();
}

TEST_F(SettingsViewTest, KeywordEditorRefusesASecondBlankRowAndPersistsEachChange) {
    store().setDangerousKeywords({"delete", "rm -rf"});
    SettingsView& window = open();
    KeywordsSection& keywords = *window.general()->keywords();
    ASSERT_EQ(keywords.rowCount(), 2);

    keywords.addButton()->click();
    EXPECT_EQ(store().dangerousKeywords(), QStringList({"delete", "rm -rf", ""}));
    EXPECT_EQ(keywords.rowCount(), 3);
    keywords.addButton()->click();
    EXPECT_EQ(keywords.message(), "Fill the empty row before adding another keyword.");
    EXPECT_EQ(store().dangerousKeywords().size(), 3);

    QLineEdit* blank = keywords.field(2);
    blank->setFocus();
    QTest::keyClicks(blank, "chmod");
    EXPECT_EQ(store().dangerousKeywords(), QStringList({"delete", "rm -rf", "chmod"}));
    EXPECT_EQ(keywords.field(2), blank) << "typing keeps the row being edited";
    EXPECT_EQ(keywords.message(), "");

    keywords.removeButton(0)->click();
    EXPECT_EQ(store().dangerousKeywords(), QStringList({"rm -rf", "chmod"}));
    EXPECT_EQ(keywords.rowCount(), 2);
    EXPECT_EQ(keywords.field(1)->text(), "chmod");

    keywords.resetButton()->click();
    EXPECT_EQ(store().dangerousKeywords(), SettingsStore::defaultDangerousKeywords());
    EXPECT_EQ(keywords.rowCount(), 5);
    DefaultsDomain reread(store().defaultsPath());
    EXPECT_TRUE(
        reread.stringForKey(SettingsStore::Keys::dangerousKeywords).value_or("").find("reset --hard") !=
        std::string::npos);

    store().setDangerousKeywords({"one"});
    EXPECT_EQ(keywords.rowCount(), 1);
    EXPECT_EQ(keywords.field(0)->text(), "one");
}

nlohmann::json readClaudeSettings() {
    QFile file(QString::fromStdString(HookInstaller::settingsPath()));
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    return nlohmann::json::parse(file.readAll().toStdString());
}

TEST_F(SettingsViewTest, AgentTabInstallsAndUninstallsTheHookInClaudeCodeSettings) {
    // Settings of the user's own that must survive both actions.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(home().path() + "/.claude")));
    {
        QFile file(QString::fromStdString(HookInstaller::settingsPath()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            R"({"model":"opus","hooks":{"PreToolUse":[{"matcher":"Bash","hooks":[{"type":"command","command":"mine"}]}]}})");
    }
    SettingsView& window = open(SettingsTab::assistant);
    AssistantPane& pane = *window.assistant();
    EXPECT_EQ(pane.hookState()->text(), "Not installed");
    ASSERT_TRUE(pane.installButton()->isVisibleTo(view.get()));
    EXPECT_FALSE(pane.uninstallButton()->isVisibleTo(view.get()));

    pane.installButton()->click();
    EXPECT_EQ(pane.hookState()->text(), "Installed in Claude Code config");
    EXPECT_EQ(pane.hookError(), "");
    nlohmann::json settings = readClaudeSettings();
    EXPECT_EQ(settings["model"], "opus");
    const std::string dump = settings["hooks"]["PreToolUse"].dump();
    EXPECT_NE(dump.find("mine"), std::string::npos);
    EXPECT_NE(dump.find(home().path() + "/opt/perchwell/bin/pv-hook-client"), std::string::npos) << dump;
    EXPECT_TRUE(pane.repairButton()->isVisibleTo(view.get()));
    EXPECT_TRUE(pane.uninstallButton()->isVisibleTo(view.get()));

    pane.uninstallButton()->click();
    EXPECT_EQ(pane.hookState()->text(), "Not installed");
    settings = readClaudeSettings();
    EXPECT_EQ(settings["model"], "opus");
    EXPECT_EQ(settings["hooks"]["PreToolUse"].dump().find("pv-hook-client"), std::string::npos);
    EXPECT_NE(settings["hooks"]["PreToolUse"].dump().find("mine"), std::string::npos);

    // A file that does not parse is never written; the error shows beside the buttons.
    {
        QFile file(QString::fromStdString(HookInstaller::settingsPath()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("{ not json");
    }
    pane.installButton()->click();
    EXPECT_NE(pane.hookError(), "");
    EXPECT_EQ(pane.hookState()->text(), "Not installed");
}

TEST_F(SettingsViewTest, OllamaTestConnectionMessages) {
    FakeOllamaServer ollama;
    ollama.route("GET /api/tags", {200, R"({"models":[{"name":"llama3.2:1b"},{"name":"qwen2.5:0.5b"}]})"});
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QString closedUrl = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    struct Case {
        QString url;
        QString model;
        QString message;
        QString modelAfter;
    };
    const Case cases[] = {
        {"http://exa mple", "m", "Invalid URL", "m"},
        {"http://169.254.169.254", "m", "URL not allowed. Use http/https and avoid metadata IPs.", "m"},
        {closedUrl, "m", "Cannot connect. Check whether Ollama is running.", "m"},
        {ollama.url().toString(), "missing:1b", "Connected · 2 models available", "llama3.2:1b"},
        {ollama.url().toString(), "qwen2.5:0.5b", "Connected · 2 models available", "qwen2.5:0.5b"},
    };
    SettingsView& window = open(SettingsTab::assistant);
    OllamaSection& section = *window.assistant()->ollama();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        store().setOllamaBaseURL(c.url);
        store().setOllamaModel(c.model);
        EXPECT_EQ(section.endpointField()->text(), c.url);
        QSignalSpy finished(&section, &OllamaSection::finished);
        section.testButton()->click();
        ASSERT_TRUE(finished.count() == 1 || finished.wait(10000));
        EXPECT_EQ(section.message(), c.message);
        EXPECT_EQ(store().ollamaModel(), c.modelAfter);
        EXPECT_TRUE(section.testButton()->isEnabled());
    }
}

TEST_F(SettingsViewTest, OllamaDownloadShowsProgressAndCanBeCancelled) {
    FakeOllamaServer ollama;
    ollama.route("GET /api/tags", {200, R"({"models":[{"name":"qwen2.5:0.5b"}]})"});
    ollama.route("POST /api/pull",
                 {200, {}, {R"({"total":1000,"completed":420})", R"({"status":"success"})"}});
    store().setOllamaBaseURL(ollama.url().toString());
    store().setOllamaModel("other");
    SettingsView& window = open(SettingsTab::assistant);
    OllamaSection& section = *window.assistant()->ollama();
    EXPECT_EQ(section.downloadButton()->text(), "Download qwen2.5:0.5b (~350MB)");

    QStringList seen;
    QObject::connect(section.progressBar(), &QProgressBar::valueChanged, [&] { seen << section.message(); });
    QSignalSpy finished(&section, &OllamaSection::finished);
    section.downloadButton()->click();
    EXPECT_TRUE(section.downloading());
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(seen.contains("Downloading 42%")) << seen.join('|').toStdString();
    EXPECT_EQ(section.message(), "Download complete");
    EXPECT_EQ(store().ollamaModel(), "qwen2.5:0.5b");
    EXPECT_FALSE(section.downloading());
    EXPECT_FALSE(section.progressBar()->isVisibleTo(view.get()));

    // A pull that never answers: cancel ends it at once and nothing comes later.
    ollama.route("POST /api/pull", FakeOllamaServer::Response::silence());
    section.downloadButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return section.message() == "Downloading 0%"; }, 10000));
    EXPECT_TRUE(section.cancelButton()->isVisibleTo(view.get()));
    section.cancelButton()->click();
    EXPECT_EQ(section.message(), "Download cancelled");
    EXPECT_FALSE(section.downloading());
    EXPECT_TRUE(section.downloadButton()->isEnabled());

    // Nothing listening: the download says so before it starts.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    store().setOllamaBaseURL(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
    closed.close();
    QSignalSpy again(&section, &OllamaSection::finished);
    section.downloadButton()->click();
    ASSERT_TRUE(again.wait(10000));
    EXPECT_EQ(section.message(), "Ollama is not reachable. Run `ollama serve` first.");
}

TEST_F(SettingsViewTest, PermissionsRefreshShowsRefreshedAndTheGrants) {
    SettingsView& window = open(SettingsTab::permissions);
    PermissionsPane& pane = *window.permissionsPane();
    EXPECT_EQ(pane.accessibilityState()->text(), "Not granted - Auto Continue cannot send keystrokes");
    EXPECT_EQ(pane.cameraState()->text(), "Not granted - eye break can still use clicks");
    EXPECT_FALSE(pane.refreshedFeedback()->isVisibleTo(view.get()));

    trust->trusted = true;
    camera->current = CameraAuthorization::authorized;
    pane.refreshButton()->click();
    EXPECT_EQ(pane.accessibilityState()->text(), "Granted");
    EXPECT_EQ(pane.cameraState()->text(), "Granted");
    EXPECT_TRUE(pane.refreshedFeedback()->isVisibleTo(view.get()));
    EXPECT_EQ(pane.refreshedFeedback()->text(), "Refreshed");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !pane.refreshedFeedback()->isVisibleTo(view.get()); },
                                PermissionsPane::refreshedFeedbackMs + 5000));

    // A build tree is no install prefix.
    EXPECT_EQ(pane.installLocation()->text(), "Running from a temporary path");
}

TEST_F(SettingsViewTest, LoginItemErrorShowsInPlaceAndTheAutostartFolderOpens) {
    SettingsView& window = open();
    GeneralPane& pane = *window.general();
    EXPECT_FALSE(pane.loginErrorBox()->isVisibleTo(view.get()));
    store().setStartAtLoginError("cannot write ~/.config/autostart/perchwell.desktop: Permission denied");
    EXPECT_TRUE(pane.loginErrorBox()->isVisibleTo(view.get()));
    EXPECT_EQ(pane.loginErrorText(), "cannot write ~/.config/autostart/perchwell.desktop: Permission denied");
    auto* open = pane.loginErrorBox()->findChild<QPushButton*>();
    ASSERT_NE(open, nullptr);
    open->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), Paths::userConfigRoot() + "/autostart");
    store().setStartAtLoginError({});
    EXPECT_FALSE(pane.loginErrorBox()->isVisibleTo(view.get()));
}

TEST_F(SettingsViewTest, CornerPickerFollowsTheStore) {
    SettingsView& window = open();
    QComboBox* corner = window.general()->cornerPicker();
    ASSERT_EQ(corner->count(), 4);
    EXPECT_EQ(corner->itemText(3), "Bottom Right");
    store().setMascotHomeCorner(HomeCorner::bottomLeft);
    EXPECT_EQ(corner->currentText(), "Bottom Left");
    corner->setCurrentIndex(0);
    EXPECT_EQ(store().mascotHomeCorner(), HomeCorner::topLeft);
}

TEST(AboutPaneTest, VersionTextMarksWhatTheBuildDoesNotCarry) {
    EXPECT_EQ(AboutPane::versionText("0.1.0", "412"), "0.1.0 (412)");
    EXPECT_EQ(AboutPane::versionText("0.1.0", ""), "0.1.0 (?)");
    EXPECT_EQ(AboutPane::versionText("", ""), "? (?)");
}

} // namespace
} // namespace perchwell
