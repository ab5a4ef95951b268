#pragma once

#include "platform/input_automator.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>

namespace perchwell {

class SettingsStore;
class TmuxPaneFinder;

// Types "continue" (or a local model's wording of it) and Return into an idle
// session. The session's own tmux pane comes first: its `claude` must be what the
// pane runs in the foreground. Only when the session has no pane does it fall back to
// the trusted terminal in front, through every safety gate. Every refusal writes one
// line to the system log. Main thread only.
class AutoContinue : public QObject {
    Q_OBJECT

public:
    // Pauses between the steps of one attempt.
    static constexpr int tmuxEnterDelayMs = 150;
    static constexpr int imeSwitchDelayMs = 120;
    static constexpr int returnDelayMs = 50;
    static constexpr int imeRestoreDelayMs = 60;

    // `automator` is null without a display; `panes` null to skip the tmux search.
    AutoContinue(SettingsStore& store, InputAutomator* automator, std::function<bool()> accessibilityGranted,
                 TmuxPaneFinder* panes, QObject* parent = nullptr);

    // `cwd`: the session's last working directory, when known.
    void injectContinueIfPossible(const std::string& sessionId, const std::optional<std::string>& cwd);

    // The text to type: "continue" unless the local model offers a fitting wording.
    void generateContinueText(std::function<void(std::string)> done);

signals:
    // An attempt ended: "tmux:<pane>", "frontmost:<pid>" after typing, "" when refused.
    void attemptFinished(const QString& target);
    // `text` went to the session's terminal; Claude Code records it as a user prompt.
    void continueTyped(const std::string& sessionId, const std::string& text);

private:
    void injectIntoPane(const std::string& sessionId, const std::string& cwd, const std::string& paneId);
    void injectIntoFrontmost(const std::string& sessionId);
    void typeIntoFrontmost(const std::string& sessionId, const FrontmostApplication& app,
                           const std::string& text);
    void refuse(const std::string& line);

    QPointer<SettingsStore> store_;
    InputAutomator* automator_;
    std::function<bool()> accessibilityGranted_;
    TmuxPaneFinder* panes_;
};

} // namespace perchwell
