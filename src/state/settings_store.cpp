#include "state/settings_store.h"

#include "common/system_log.h"
#include "common/utf8.h"
#include "platform/defaults_domain.h"
#include "platform/linux/xdg_autostart_login_item.h"
#include "platform/login_item_service.h"
#include "platform/paths.h"

#include <QFileInfo>
#include <QMetaObject>
#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

// The keyword list's stored form: a JSON array of strings; nothing when it cannot be
// encoded as valid UTF-8.
std::optional<std::string> encodeKeywords(const QStringList& keywords) {
    nlohmann::json array = nlohmann::json::array();
    for (const QString& keyword : keywords) {
        array.push_back(keyword.toStdString());
    }
    try {
        std::string text = array.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        if (!utf8::isValid(text)) {
            return std::nullopt;
        }
        return text;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

// Nothing when the text is not a JSON array of strings; an empty array is a valid list.
std::optional<QStringList> decodeKeywords(const std::string& text) {
    const auto parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_array()) {
        return std::nullopt;
    }
    QStringList keywords;
    for (const auto& element : parsed) {
        if (!element.is_string()) {
            return std::nullopt;
        }
        keywords.push_back(QString::fromStdString(element.get<std::string>()));
    }
    return keywords;
}

} // namespace

QStringList SettingsStore::defaultDangerousKeywords() {
    return {QStringLiteral("delete"), QStringLiteral("rm -rf"), QStringLiteral("drop database"),
            QStringLiteral("force push"), QStringLiteral("reset --hard")};
}

SettingsStore::SettingsStore(const std::string& defaultsPath, std::shared_ptr<LoginItemService> loginItem,
                             QObject* parent)
    : QObject(parent), defaults_(std::make_unique<DefaultsDomain>(defaultsPath)),
      loginItem_(std::move(loginItem)) {
    // Fallbacks only: nothing is written until a property is assigned.
    defaults_->registerDefaults({
        {Keys::enabled, true},
        {Keys::mcpEnabled, false},
        {Keys::mcpPort, defaultMcpPort},
        {Keys::mascotEnabled, true},
        {Keys::mascotHomeCorner, std::string(rawValue(HomeCorner::topRight))},
        {Keys::safePromptOnly, true},
        {Keys::gazeAutoHit, true},
        {Keys::agentKeepalive, true},
        {Keys::agentKeepaliveClosedLidMode, false},
        {Keys::agentKeepaliveHoldSeconds, defaultAgentKeepaliveHoldSeconds},
        {Keys::autoContinue, false},
        {Keys::autoContinueIdleSeconds, defaultAutoContinueIdleSeconds},
        {Keys::ollamaEnabled, false},
        {Keys::ollamaBaseURL, defaultOllamaBaseURL().toStdString()},
        {Keys::ollamaModel, defaultOllamaModel().toStdString()},
        {Keys::promptEnhancerEnabled, false},
    });
    load();
    // Initialisation only: registers or unregisters nothing.
    startAtLogin_ = loginItem_ && loginItem_->status() == LoginItemStatus::enabled;

    // A fixed delay from the first event, not restarted by later ones, so a steady
    // trickle of events cannot hold a change back.
    reloadTimer_.setSingleShot(true);
    reloadTimer_.setInterval(reloadDelayMs);
    connect(&reloadTimer_, &QTimer::timeout, this, &SettingsStore::reloadFromDefaults);
    const auto schedule = [this] {
        if (!reloadTimer_.isActive()) {
            reloadTimer_.start();
        }
    };
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, schedule);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, schedule);
    watchDefaults();
}

SettingsStore::~SettingsStore() = default;

SettingsStore& SettingsStore::shared() {
    static SettingsStore* instance =
        new SettingsStore(Paths::defaultsFile(), std::make_shared<XdgAutostartLoginItem>());
    return *instance;
}

const std::string& SettingsStore::defaultsPath() const {
    return defaults_->path();
}

void SettingsStore::load() {
    const DefaultsDomain& d = *defaults_;
    adopt(enabled_, d.boolForKey(Keys::enabled), &SettingsStore::enabledChanged);
    adopt(mcpEnabled_, d.boolForKey(Keys::mcpEnabled), &SettingsStore::mcpEnabledChanged);
    adopt(mcpPort_, qint64{d.integerForKey(Keys::mcpPort)}, &SettingsStore::mcpPortChanged);
    adopt(mascotEnabled_, d.boolForKey(Keys::mascotEnabled), &SettingsStore::mascotEnabledChanged);
    adopt(mascotHomeCorner_,
          homeCornerFromRawValue(d.stringForKey(Keys::mascotHomeCorner).value_or("topRight"))
              .value_or(HomeCorner::topRight),
          &SettingsStore::mascotHomeCornerChanged);
    adopt(safePromptOnly_, d.boolForKey(Keys::safePromptOnly), &SettingsStore::safePromptOnlyChanged);
    adopt(gazeAutoHit_, d.boolForKey(Keys::gazeAutoHit), &SettingsStore::gazeAutoHitChanged);
    adopt(agentKeepalive_, d.boolForKey(Keys::agentKeepalive), &SettingsStore::agentKeepaliveChanged);
    adopt(agentKeepaliveClosedLidMode_, d.boolForKey(Keys::agentKeepaliveClosedLidMode),
          &SettingsStore::agentKeepaliveClosedLidModeChanged);
    adopt(agentKeepaliveHoldSeconds_, d.doubleForKey(Keys::agentKeepaliveHoldSeconds),
          &SettingsStore::agentKeepaliveHoldSecondsChanged);
    adopt(autoContinue_, d.boolForKey(Keys::autoContinue), &SettingsStore::autoContinueChanged);
    adopt(autoContinueIdleSeconds_, d.doubleForKey(Keys::autoContinueIdleSeconds),
          &SettingsStore::autoContinueIdleSecondsChanged);
    adopt(ollamaEnabled_, d.boolForKey(Keys::ollamaEnabled), &SettingsStore::ollamaEnabledChanged);
    adopt(ollamaBaseURL_,
          QString::fromStdString(
              d.stringForKey(Keys::ollamaBaseURL).value_or(defaultOllamaBaseURL().toStdString())),
          &SettingsStore::ollamaBaseURLChanged);
    adopt(ollamaModel_,
          QString::fromStdString(
              d.stringForKey(Keys::ollamaModel).value_or(defaultOllamaModel().toStdString())),
          &SettingsStore::ollamaModelChanged);
    adopt(promptEnhancerEnabled_, d.boolForKey(Keys::promptEnhancerEnabled),
          &SettingsStore::promptEnhancerEnabledChanged);
    const auto keywordText = d.stringForKey(Keys::dangerousKeywords);
    adopt(dangerousKeywords_,
          (keywordText ? decodeKeywords(*keywordText) : std::nullopt).value_or(defaultDangerousKeywords()),
          &SettingsStore::dangerousKeywordsChanged);
}

void SettingsStore::watchDefaults() {
    const QFileInfo file(QString::fromStdString(defaults_->path()));
    // An atomic replace shows on the directory (the file's inode changes); an in-place
    // edit only on the file. Until the config directory exists, its nearest ancestor
    // tells when it is made.
    QString directory = file.absolutePath();
    while (!QFileInfo(directory).isDir() && directory != QStringLiteral("/")) {
        directory = QFileInfo(directory).absolutePath();
    }
    const QStringList directories = watcher_.directories();
    for (const QString& watched : directories) {
        if (watched != directory) {
            watcher_.removePath(watched);
        }
    }
    if (!directories.contains(directory)) {
        watcher_.addPath(directory);
    }
    // Always anew: a watch on the file follows the inode, which a replace leaves behind.
    if (!watcher_.files().isEmpty()) {
        watcher_.removePaths(watcher_.files());
    }
    if (file.isFile()) {
        watcher_.addPath(file.filePath());
    }
}

void SettingsStore::reloadFromDefaults() {
    // Watch before reading, so an edit that lands meanwhile brings another reload.
    watchDefaults();
    defaults_->reload();
    // Our own writes come back here too; they match the properties and publish nothing.
    load();
}

void SettingsStore::writeThrough(std::string_view key, const nlohmann::json& value) {
    if (auto written = defaults_->set(key, value); !written) {
        // The in-memory value stands; the next assignment tries again.
        systemlog::write("[Perchwell] settings: could not write " + std::string(key) + ": " +
                         written.error().message);
    }
}

void SettingsStore::setEnabled(bool value) {
    assign(enabled_, value, &SettingsStore::enabledChanged);
    writeThrough(Keys::enabled, value);
}

void SettingsStore::setMcpEnabled(bool value) {
    assign(mcpEnabled_, value, &SettingsStore::mcpEnabledChanged);
    writeThrough(Keys::mcpEnabled, value);
}

void SettingsStore::setMcpPort(qint64 value) {
    assign(mcpPort_, value, &SettingsStore::mcpPortChanged);
    writeThrough(Keys::mcpPort, static_cast<int64_t>(value));
}

void SettingsStore::setMascotEnabled(bool value) {
    assign(mascotEnabled_, value, &SettingsStore::mascotEnabledChanged);
    writeThrough(Keys::mascotEnabled, value);
}

void SettingsStore::setMascotHomeCorner(HomeCorner value) {
    assign(mascotHomeCorner_, value, &SettingsStore::mascotHomeCornerChanged);
    writeThrough(Keys::mascotHomeCorner, std::string(rawValue(value)));
}

void SettingsStore::setSafePromptOnly(bool value) {
    assign(safePromptOnly_, value, &SettingsStore::safePromptOnlyChanged);
    writeThrough(Keys::safePromptOnly, value);
}

void SettingsStore::setGazeAutoHit(bool value) {
    assign(gazeAutoHit_, value, &SettingsStore::gazeAutoHitChanged);
    writeThrough(Keys::gazeAutoHit, value);
}

void SettingsStore::setAgentKeepalive(bool value) {
    assign(agentKeepalive_, value, &SettingsStore::agentKeepaliveChanged);
    writeThrough(Keys::agentKeepalive, value);
}

void SettingsStore::setAgentKeepaliveClosedLidMode(bool value) {
    assign(agentKeepaliveClosedLidMode_, value, &SettingsStore::agentKeepaliveClosedLidModeChanged);
    writeThrough(Keys::agentKeepaliveClosedLidMode, value);
}

void SettingsStore::setAgentKeepaliveHoldSeconds(double value) {
    assign(agentKeepaliveHoldSeconds_, value, &SettingsStore::agentKeepaliveHoldSecondsChanged);
    writeThrough(Keys::agentKeepaliveHoldSeconds, value);
}

void SettingsStore::setAutoContinue(bool value) {
    assign(autoContinue_, value, &SettingsStore::autoContinueChanged);
    writeThrough(Keys::autoContinue, value);
}

void SettingsStore::setAutoContinueIdleSeconds(double value) {
    assign(autoContinueIdleSeconds_, value, &SettingsStore::autoContinueIdleSecondsChanged);
    writeThrough(Keys::autoContinueIdleSeconds, value);
}

void SettingsStore::setOllamaEnabled(bool value) {
    assign(ollamaEnabled_, value, &SettingsStore::ollamaEnabledChanged);
    writeThrough(Keys::ollamaEnabled, value);
}

void SettingsStore::setOllamaBaseURL(const QString& value) {
    assign(ollamaBaseURL_, value, &SettingsStore::ollamaBaseURLChanged);
    writeThrough(Keys::ollamaBaseURL, value.toStdString());
}

void SettingsStore::setOllamaModel(const QString& value) {
    assign(ollamaModel_, value, &SettingsStore::ollamaModelChanged);
    writeThrough(Keys::ollamaModel, value.toStdString());
}

void SettingsStore::setPromptEnhancerEnabled(bool value) {
    assign(promptEnhancerEnabled_, value, &SettingsStore::promptEnhancerEnabledChanged);
    writeThrough(Keys::promptEnhancerEnabled, value);
}

void SettingsStore::setDangerousKeywords(const QStringList& value) {
    assign(dangerousKeywords_, value, &SettingsStore::dangerousKeywordsChanged);
    if (const auto text = encodeKeywords(value)) {
        writeThrough(Keys::dangerousKeywords, *text);
    }
}

void SettingsStore::setStartAtLogin(bool value) {
    if (value == startAtLogin_) {
        return;
    }
    assign(startAtLogin_, value, &SettingsStore::startAtLoginChanged);
    if (!suppressStartAtLoginSideEffect_) {
        applyStartAtLogin();
    }
}

void SettingsStore::applyStartAtLogin() {
    if (!loginItem_) {
        setStartAtLoginError(QStringLiteral("Start at login is not available on this system."));
        return;
    }
    const Result<void> result = startAtLogin_ ? loginItem_->registerItem() : loginItem_->unregisterItem();
    if (result) {
        setStartAtLoginError(QString());
        return;
    }
    const bool actual = loginItem_->status() == LoginItemStatus::enabled;
    setStartAtLoginError(QString::fromStdString(result.error().message));
    if (actual == startAtLogin_) {
        return;
    }
    suppressStartAtLoginSideEffect_ = true;
    QMetaObject::invokeMethod(
        this,
        [this, actual] {
            setStartAtLogin(actual);
            suppressStartAtLoginSideEffect_ = false;
        },
        Qt::QueuedConnection);
}

void SettingsStore::setStartAtLoginError(const QString& value) {
    assign(startAtLoginError_, value, &SettingsStore::startAtLoginErrorChanged);
}

void SettingsStore::setAgentKeepaliveActive(bool value) {
    assign(agentKeepaliveActive_, value, &SettingsStore::agentKeepaliveActiveChanged);
}

void SettingsStore::setAgentKeepaliveReleaseAt(const QDateTime& value) {
    assign(agentKeepaliveReleaseAt_, value, &SettingsStore::agentKeepaliveReleaseAtChanged);
}

void SettingsStore::setAgentKeepaliveLastActivityAt(const QDateTime& value) {
    assign(agentKeepaliveLastActivityAt_, value, &SettingsStore::agentKeepaliveLastActivityAtChanged);
}

void SettingsStore::setAgentKeepaliveReason(const QString& value) {
    assign(agentKeepaliveReason_, value, &SettingsStore::agentKeepaliveReasonChanged);
}

void SettingsStore::setAgentKeepaliveClosedLidActive(bool value) {
    assign(agentKeepaliveClosedLidActive_, value, &SettingsStore::agentKeepaliveClosedLidActiveChanged);
}

void SettingsStore::setAgentKeepaliveClosedLidError(const QString& value) {
    assign(agentKeepaliveClosedLidError_, value, &SettingsStore::agentKeepaliveClosedLidErrorChanged);
}

} // namespace perchwell
