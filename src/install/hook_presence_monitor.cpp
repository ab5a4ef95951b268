#include "install/hook_presence_monitor.h"

#include "common/file_util.h"
#include "common/system_log.h"
#include "hooks/hook_installer.h"
#include "platform/paths.h"

#include <QFileInfo>
#include <cstdio>

namespace perchwell {
namespace {

void say(const std::string& line) {
    systemlog::write(line);
    std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace

HookPresenceMonitor::HookPresenceMonitor(std::string fixCommand, QObject* parent)
    : QObject(parent), fixCommand_(std::move(fixCommand)) {
    // Editors and Claude Code replace the file in several steps; judge the result.
    debounce_.setSingleShot(true);
    debounce_.setInterval(200);
    connect(&debounce_, &QTimer::timeout, this, &HookPresenceMonitor::recheck);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { debounce_.start(); });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { debounce_.start(); });
}

std::string HookPresenceMonitor::missingLine(const std::string& settingsPath, const std::string& fixCommand) {
    return "[Perchwell] Claude Code's settings (" + settingsPath +
           ") hold no Perchwell hook, so its tool uses are not reviewed. To install: " + fixCommand;
}

void HookPresenceMonitor::start() {
    recheck();
}

// The directory sees the file replaced or created; the file sees edits in place. A
// replaced file drops out of the watch, so both are added again after every change.
void HookPresenceMonitor::watch() {
    const std::string path = HookInstaller::settingsPath();
    const std::string dir = files::parentDirectory(path);
    const QString watched = QFileInfo::exists(QString::fromStdString(dir))
                                ? QString::fromStdString(dir)
                                : QString::fromStdString(Paths::home());
    for (const QString& candidate : {watched, QString::fromStdString(path)}) {
        if (QFileInfo::exists(candidate) && !watcher_.files().contains(candidate) &&
            !watcher_.directories().contains(candidate)) {
            watcher_.addPath(candidate);
        }
    }
}

void HookPresenceMonitor::recheck() {
    watch();
    const auto status = HookInstaller::status();
    if (!status) {
        if (status.error().message != lastError_) {
            lastError_ = status.error().message;
            say("[Perchwell] cannot tell whether the Claude Code hook is installed: " + lastError_);
        }
        return;
    }
    lastError_.clear();
    const bool installed = status->installed();
    if (installed_ == installed) {
        return;
    }
    installed_ = installed;
    if (!installed) {
        say(missingLine(status->settingsPath, fixCommand_));
    } else {
        systemlog::write("[Perchwell] Claude Code hook installed in " + status->settingsPath);
    }
    emit installedChanged(installed);
}

} // namespace perchwell
