#pragma once

#include "state/home_corner.h"

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

namespace perchwell {

class DefaultsDomain;
class LoginItemService;

// The application's observable settings and a few pieces of live status. Every
// persisted property writes through to the settings domain on every assignment (also
// of an equal value) under its "pv." key; each property has a NOTIFY signal that
// carries the value it was handed. Edits that others make to the settings file are
// picked up within a fraction of a second: each persisted property whose value
// changed is updated and its signal emitted, and nothing is written back. Main thread
// only.
//
// Optional values: a null QString and an invalid QDateTime mean "none".
class SettingsStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(bool mcpEnabled READ mcpEnabled WRITE setMcpEnabled NOTIFY mcpEnabledChanged)
    Q_PROPERTY(qint64 mcpPort READ mcpPort WRITE setMcpPort NOTIFY mcpPortChanged)
    Q_PROPERTY(bool mascotEnabled READ mascotEnabled WRITE setMascotEnabled NOTIFY mascotEnabledChanged)
    Q_PROPERTY(perchwell::HomeCorner mascotHomeCorner READ mascotHomeCorner WRITE setMascotHomeCorner NOTIFY
                   mascotHomeCornerChanged)
    Q_PROPERTY(bool safePromptOnly READ safePromptOnly WRITE setSafePromptOnly NOTIFY safePromptOnlyChanged)
    Q_PROPERTY(bool gazeAutoHit READ gazeAutoHit WRITE setGazeAutoHit NOTIFY gazeAutoHitChanged)
    Q_PROPERTY(bool agentKeepalive READ agentKeepalive WRITE setAgentKeepalive NOTIFY agentKeepaliveChanged)
    Q_PROPERTY(bool agentKeepaliveClosedLidMode READ agentKeepaliveClosedLidMode WRITE
                   setAgentKeepaliveClosedLidMode NOTIFY agentKeepaliveClosedLidModeChanged)
    Q_PROPERTY(double agentKeepaliveHoldSeconds READ agentKeepaliveHoldSeconds WRITE
                   setAgentKeepaliveHoldSeconds NOTIFY agentKeepaliveHoldSecondsChanged)
    Q_PROPERTY(bool autoContinue READ autoContinue WRITE setAutoContinue NOTIFY autoContinueChanged)
    Q_PROPERTY(double autoContinueIdleSeconds READ autoContinueIdleSeconds WRITE setAutoContinueIdleSeconds
                   NOTIFY autoContinueIdleSecondsChanged)
    Q_PROPERTY(bool ollamaEnabled READ ollamaEnabled WRITE setOllamaEnabled NOTIFY ollamaEnabledChanged)
    Q_PROPERTY(QString ollamaBaseURL READ ollamaBaseURL WRITE setOllamaBaseURL NOTIFY ollamaBaseURLChanged)
    Q_PROPERTY(QString ollamaModel READ ollamaModel WRITE setOllamaModel NOTIFY ollamaModelChanged)
    Q_PROPERTY(bool promptEnhancerEnabled READ promptEnhancerEnabled WRITE setPromptEnhancerEnabled NOTIFY
                   promptEnhancerEnabledChanged)
    Q_PROPERTY(QStringList dangerousKeywords READ dangerousKeywords WRITE setDangerousKeywords NOTIFY
                   dangerousKeywordsChanged)
    Q_PROPERTY(bool startAtLogin READ startAtLogin WRITE setStartAtLogin NOTIFY startAtLoginChanged)
    Q_PROPERTY(QString startAtLoginError READ startAtLoginError WRITE setStartAtLoginError NOTIFY
                   startAtLoginErrorChanged)
    Q_PROPERTY(bool agentKeepaliveActive READ agentKeepaliveActive WRITE setAgentKeepaliveActive NOTIFY
                   agentKeepaliveActiveChanged)
    Q_PROPERTY(QDateTime agentKeepaliveReleaseAt READ agentKeepaliveReleaseAt WRITE setAgentKeepaliveReleaseAt
                   NOTIFY agentKeepaliveReleaseAtChanged)
    Q_PROPERTY(QDateTime agentKeepaliveLastActivityAt READ agentKeepaliveLastActivityAt WRITE
                   setAgentKeepaliveLastActivityAt NOTIFY agentKeepaliveLastActivityAtChanged)
    Q_PROPERTY(QString agentKeepaliveReason READ agentKeepaliveReason WRITE setAgentKeepaliveReason NOTIFY
                   agentKeepaliveReasonChanged)
    Q_PROPERTY(bool agentKeepaliveClosedLidActive READ agentKeepaliveClosedLidActive WRITE
                   setAgentKeepaliveClosedLidActive NOTIFY agentKeepaliveClosedLidActiveChanged)
    Q_PROPERTY(QString agentKeepaliveClosedLidError READ agentKeepaliveClosedLidError WRITE
                   setAgentKeepaliveClosedLidError NOTIFY agentKeepaliveClosedLidErrorChanged)

public:
    struct Keys {
        static constexpr const char* enabled = "pv.enabled";
        static constexpr const char* mcpEnabled = "pv.mcpEnabled";
        static constexpr const char* mcpPort = "pv.mcpPort";
        static constexpr const char* mascotEnabled = "pv.mascotEnabled";
        static constexpr const char* mascotHomeCorner = "pv.mascotHomeCorner";
        static constexpr const char* safePromptOnly = "pv.safePromptOnly";
        static constexpr const char* gazeAutoHit = "pv.gazeAutoHit";
        static constexpr const char* agentKeepalive = "pv.agentKeepalive";
        static constexpr const char* agentKeepaliveClosedLidMode = "pv.agentKeepaliveClosedLidMode";
        static constexpr const char* agentKeepaliveHoldSeconds = "pv.agentKeepaliveHoldSeconds";
        static constexpr const char* autoContinue = "pv.autoContinue";
        static constexpr const char* autoContinueIdleSeconds = "pv.autoContinueIdleSeconds";
        static constexpr const char* ollamaEnabled = "pv.ollamaEnabled";
        static constexpr const char* ollamaBaseURL = "pv.ollamaBaseURL";
        static constexpr const char* ollamaModel = "pv.ollamaModel";
        static constexpr const char* promptEnhancerEnabled = "pv.promptEnhancerEnabled";
        static constexpr const char* dangerousKeywords = "pv.dangerousKeywordsJSON";
    };
    static constexpr qint64 defaultMcpPort = 7392;
    static constexpr double defaultAgentKeepaliveHoldSeconds = 5400;
    static constexpr double defaultAutoContinueIdleSeconds = 60;
    static QString defaultOllamaBaseURL() { return QStringLiteral("http://localhost:11434"); }
    static QString defaultOllamaModel() { return QStringLiteral("qwen2.5:0.5b"); }
    static QStringList defaultDangerousKeywords();
    // How long the store lets a burst of file events settle before it re-reads.
    static constexpr int reloadDelayMs = 150;

    // A store over the settings domain at `defaultsPath`, with `loginItem` as the
    // login-item service (a test double in tests).
    SettingsStore(const std::string& defaultsPath, std::shared_ptr<LoginItemService> loginItem,
                  QObject* parent = nullptr);
    ~SettingsStore() override;

    // The application's one instance, over the standard domain and the XDG autostart
    // entry, created on first use (main thread).
    static SettingsStore& shared();

    // The domain this store writes through to (thread-safe).
    DefaultsDomain& defaults() { return *defaults_; }
    const std::string& defaultsPath() const;

    bool enabled() const { return enabled_; }
    bool mcpEnabled() const { return mcpEnabled_; }
    qint64 mcpPort() const { return mcpPort_; }
    bool mascotEnabled() const { return mascotEnabled_; }
    HomeCorner mascotHomeCorner() const { return mascotHomeCorner_; }
    bool safePromptOnly() const { return safePromptOnly_; }
    bool gazeAutoHit() const { return gazeAutoHit_; }
    bool agentKeepalive() const { return agentKeepalive_; }
    bool agentKeepaliveClosedLidMode() const { return agentKeepaliveClosedLidMode_; }
    double agentKeepaliveHoldSeconds() const { return agentKeepaliveHoldSeconds_; }
    bool autoContinue() const { return autoContinue_; }
    double autoContinueIdleSeconds() const { return autoContinueIdleSeconds_; }
    bool ollamaEnabled() const { return ollamaEnabled_; }
    QString ollamaBaseURL() const { return ollamaBaseURL_; }
    QString ollamaModel() const { return ollamaModel_; }
    bool promptEnhancerEnabled() const { return promptEnhancerEnabled_; }
    QStringList dangerousKeywords() const { return dangerousKeywords_; }
    bool startAtLogin() const { return startAtLogin_; }
    QString startAtLoginError() const { return startAtLoginError_; }
    bool agentKeepaliveActive() const { return agentKeepaliveActive_; }
    QDateTime agentKeepaliveReleaseAt() const { return agentKeepaliveReleaseAt_; }
    QDateTime agentKeepaliveLastActivityAt() const { return agentKeepaliveLastActivityAt_; }
    QString agentKeepaliveReason() const { return agentKeepaliveReason_; }
    bool agentKeepaliveClosedLidActive() const { return agentKeepaliveClosedLidActive_; }
    QString agentKeepaliveClosedLidError() const { return agentKeepaliveClosedLidError_; }

public slots:
    void setEnabled(bool value);
    void setMcpEnabled(bool value);
    void setMcpPort(qint64 value);
    void setMascotEnabled(bool value);
    void setMascotHomeCorner(perchwell::HomeCorner value);
    void setSafePromptOnly(bool value);
    void setGazeAutoHit(bool value);
    void setAgentKeepalive(bool value);
    void setAgentKeepaliveClosedLidMode(bool value);
    void setAgentKeepaliveHoldSeconds(double value);
    void setAutoContinue(bool value);
    void setAutoContinueIdleSeconds(double value);
    void setOllamaEnabled(bool value);
    void setOllamaBaseURL(const QString& value);
    void setOllamaModel(const QString& value);
    void setPromptEnhancerEnabled(bool value);
    void setDangerousKeywords(const QStringList& value);
    // Registers or unregisters the login item when the value changes; on failure the
    // error text is set and the value snaps back to the service's real state on the
    // next event-loop turn, without a second registration attempt.
    void setStartAtLogin(bool value);
    void setStartAtLoginError(const QString& value);
    void setAgentKeepaliveActive(bool value);
    void setAgentKeepaliveReleaseAt(const QDateTime& value);
    void setAgentKeepaliveLastActivityAt(const QDateTime& value);
    void setAgentKeepaliveReason(const QString& value);
    void setAgentKeepaliveClosedLidActive(bool value);
    void setAgentKeepaliveClosedLidError(const QString& value);

signals:
    // Announced before any property changes.
    void objectWillChange();
    void enabledChanged(bool value);
    void mcpEnabledChanged(bool value);
    void mcpPortChanged(qint64 value);
    void mascotEnabledChanged(bool value);
    void mascotHomeCornerChanged(perchwell::HomeCorner value);
    void safePromptOnlyChanged(bool value);
    void gazeAutoHitChanged(bool value);
    void agentKeepaliveChanged(bool value);
    void agentKeepaliveClosedLidModeChanged(bool value);
    void agentKeepaliveHoldSecondsChanged(double value);
    void autoContinueChanged(bool value);
    void autoContinueIdleSecondsChanged(double value);
    void ollamaEnabledChanged(bool value);
    void ollamaBaseURLChanged(const QString& value);
    void ollamaModelChanged(const QString& value);
    void promptEnhancerEnabledChanged(bool value);
    void dangerousKeywordsChanged(const QStringList& value);
    void startAtLoginChanged(bool value);
    void startAtLoginErrorChanged(const QString& value);
    void agentKeepaliveActiveChanged(bool value);
    void agentKeepaliveReleaseAtChanged(const QDateTime& value);
    void agentKeepaliveLastActivityAtChanged(const QDateTime& value);
    void agentKeepaliveReasonChanged(const QString& value);
    void agentKeepaliveClosedLidActiveChanged(bool value);
    void agentKeepaliveClosedLidErrorChanged(const QString& value);

private:
    // Publishes before anything else sees the new value; every assignment publishes.
    template <typename T, typename Signal> void assign(T& field, const T& value, Signal signal) {
        emit objectWillChange();
        field = value;
        (this->*signal)(value);
    }
    // For values read back from the file: only a change is published.
    template <typename T, typename Signal> void adopt(T& field, const T& value, Signal signal) {
        if (!(field == value)) {
            assign(field, value, signal);
        }
    }
    void load();
    void watchDefaults();
    void reloadFromDefaults();
    void writeThrough(std::string_view key, const nlohmann::json& value);
    void applyStartAtLogin();

    std::unique_ptr<DefaultsDomain> defaults_;
    std::shared_ptr<LoginItemService> loginItem_;
    QFileSystemWatcher watcher_;
    QTimer reloadTimer_;

    bool enabled_ = true;
    bool mcpEnabled_ = false;
    qint64 mcpPort_ = defaultMcpPort;
    bool mascotEnabled_ = true;
    HomeCorner mascotHomeCorner_ = HomeCorner::topRight;
    bool safePromptOnly_ = true;
    bool gazeAutoHit_ = true;
    bool agentKeepalive_ = true;
    bool agentKeepaliveClosedLidMode_ = false;
    double agentKeepaliveHoldSeconds_ = defaultAgentKeepaliveHoldSeconds;
    bool autoContinue_ = false;
    double autoContinueIdleSeconds_ = defaultAutoContinueIdleSeconds;
    bool ollamaEnabled_ = false;
    QString ollamaBaseURL_;
    QString ollamaModel_;
    bool promptEnhancerEnabled_ = false;
    QStringList dangerousKeywords_;

    bool startAtLogin_ = false;
    QString startAtLoginError_;
    bool suppressStartAtLoginSideEffect_ = false;

    bool agentKeepaliveActive_ = false;
    QDateTime agentKeepaliveReleaseAt_;
    QDateTime agentKeepaliveLastActivityAt_;
    QString agentKeepaliveReason_;
    bool agentKeepaliveClosedLidActive_ = false;
    QString agentKeepaliveClosedLidError_;
};

} // namespace perchwell
