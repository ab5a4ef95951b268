#pragma once

#include "common/app_logger.h"
#include "workflow/jsonl_entry.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <string>

namespace perchwell {

class MascotControlling;
class SettingsStore;

// When a prompt the user sent Claude Code looks vague, asks the local model for a
// one-sentence rewrite, copies it to the clipboard and shows it on the mascot, so a
// better prompt is at hand next time. What Claude Code received is never changed.
// Main thread only.
class PromptEnhancer : public QObject {
    Q_OBJECT

public:
    static constexpr double cooldown = 30;
    // Seconds since the Unix epoch.
    using Clock = std::function<double()>;
    // Replaces the clipboard's content with one plain-text string.
    using Clipboard = std::function<void(const QString&)>;

    // `mascot` may be null (headless); a null clipboard uses the application's, when
    // it has one.
    PromptEnhancer(SettingsStore& store, MascotControlling* mascot, Clock clock = {},
                   Clipboard clipboard = {}, QObject* parent = nullptr);

    // Called for every user prompt the watcher ingests; may start one rewrite.
    void consider(const UserEntry& entry);

    // The vagueness test: under 30 user-perceived characters once trimmed, or no
    // action verb and no digit together with "/" or ".".
    static bool worthImproving(const QString& text);

signals:
    // A rewrite ended: with the suggestion shown, or with nothing (refused, failed).
    void rewriteFinished(const QString& suggestion);

private:
    void doRewrite(const UserEntry& entry);
    void present(const QString& suggestion);

    AppLogger log_{"enhancer"};
    QPointer<SettingsStore> store_;
    MascotControlling* mascot_;
    Clock clock_;
    Clipboard clipboard_;
    std::map<std::string, double> lastFiredAt_;
};

} // namespace perchwell
