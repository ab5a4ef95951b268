#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <optional>
#include <string>

namespace perchwell {

// Tells the user when Claude Code's settings hold no hook entry of ours: once at launch,
// and again whenever the entries vanish while we run (Claude Code has been seen to
// rewrite settings.json without its "hooks"), on stderr and in the system log, with the
// command that fixes it. Main thread only.
class HookPresenceMonitor : public QObject {
    Q_OBJECT

public:
    // `fixCommand`: what the message tells the user to run.
    explicit HookPresenceMonitor(std::string fixCommand, QObject* parent = nullptr);

    // Checks now and follows the file from here on.
    void start();
    // Unknown until the first check, or while the file cannot be read.
    std::optional<bool> installed() const { return installed_; }

    // "[Perchwell] Claude Code's settings (<path>) hold no Perchwell hook ..."
    static std::string missingLine(const std::string& settingsPath, const std::string& fixCommand);

signals:
    void installedChanged(bool installed);

private:
    void watch();
    void recheck();

    std::string fixCommand_;
    std::optional<bool> installed_;
    std::string lastError_;
    QFileSystemWatcher watcher_;
    QTimer debounce_;
};

} // namespace perchwell
