#include "assist/auto_continue.h"

#include "assist/continue_text.h"
#include "assist/ollama_client.h"
#include "assist/tmux_pane_finder.h"
#include "common/system_log.h"
#include "platform/trusted_terminals.h"
#include "state/settings_store.h"

#include <QTimer>

namespace perchwell {

namespace {

std::string shortId(const std::string& id) {
    return id.substr(0, 8);
}

} // namespace

AutoContinue::AutoContinue(SettingsStore& store, InputAutomator* automator,
                           std::function<bool()> accessibilityGranted, TmuxPaneFinder* panes, QObject* parent)
    : QObject(parent), store_(&store), automator_(automator),
      accessibilityGranted_(std::move(accessibilityGranted)), panes_(panes) {}

void AutoContinue::refuse(const std::string& line) {
    systemlog::write(line);
    emit attemptFinished({});
}

void AutoContinue::injectContinueIfPossible(const std::string& sessionId,
                                            const std::optional<std::string>& cwd) {
    if (!store_ || !store_->autoContinue()) {
        return;
    }
    if (panes_) {
        const PaneSearch search = panes_->find(cwd.value_or(""));
        if (search.outcome == PaneSearch::Outcome::found) {
            injectIntoPane(sessionId, *cwd, search.paneId);
            return;
        }
        if (search.outcome != PaneSearch::Outcome::none) {
            // Guessing could type into another agent's prompt, a shell or an editor.
            refuse("[Perchwell] auto-continue: session " + shortId(sessionId) + ": " + search.reason +
                   ", skipping");
            return;
        }
        systemlog::write("[Perchwell] auto-continue: session " + shortId(sessionId) + ": " + search.reason +
                         " — trying the terminal in front");
    }
    injectIntoFrontmost(sessionId);
}

void AutoContinue::injectIntoPane(const std::string& sessionId, const std::string& cwd,
                                  const std::string& paneId) {
    systemlog::write("[Perchwell] auto-continue: session " + shortId(sessionId) +
                     " idle, injecting continue to tmux pane " + paneId);
    QPointer<AutoContinue> self(this);
    generateContinueText([self, sessionId, cwd, paneId](std::string text) {
        if (!self || !self->panes_) {
            return;
        }
        // The model may have taken a while: the pane must still run that claude in front.
        const PaneSearch again = self->panes_->find(cwd);
        if (again.outcome != PaneSearch::Outcome::found || again.paneId != paneId) {
            self->refuse("[Perchwell] auto-continue: tmux pane " + paneId +
                         " no longer runs claude in front post-await, skipping");
            return;
        }
        const std::string typed = ContinueText::terminalSafe(text);
        if (auto sent = self->panes_->sendLiteral(paneId, typed); !sent) {
            self->refuse("[Perchwell] auto-continue: tmux send-keys failed: " + sent.error().message);
            return;
        }
        emit self->continueTyped(sessionId, typed);
        QTimer::singleShot(tmuxEnterDelayMs, self, [self, paneId] {
            if (auto sent = self->panes_->sendEnter(paneId); !sent) {
                self->refuse("[Perchwell] auto-continue: tmux send-keys failed: " + sent.error().message);
                return;
            }
            emit self->attemptFinished(QString::fromStdString("tmux:" + paneId));
        });
    });
}

void AutoContinue::injectIntoFrontmost(const std::string& sessionId) {
    if (!automator_) {
        refuse("[Perchwell] auto-continue: keystrokes not available without a display, skipping");
        return;
    }
    if (auto reason = automator_->unavailableReason()) {
        refuse("[Perchwell] auto-continue: keystrokes not available: " + *reason + ", skipping");
        return;
    }
    if (automator_->secureInputEnabled()) {
        refuse("[Perchwell] auto-continue: secure input enabled, skipping");
        return;
    }
    const auto app = automator_->frontmostApplication();
    if (!app || app->bundleIdentifier.empty()) {
        refuse("[Perchwell] auto-continue: no frontmost app, skipping");
        return;
    }
    if (!TrustedTerminals::isTrusted(app->bundleIdentifier) &&
        !TrustedTerminals::isTrusted(app->instanceName)) {
        refuse("[Perchwell] auto-continue: frontmost " + app->bundleIdentifier +
               " not a trusted terminal, skipping");
        return;
    }
    systemlog::write("[Perchwell] auto-continue: session " + shortId(sessionId) +
                     " idle, injecting continue to pid=" + std::to_string(app->pid) + " (" +
                     app->bundleIdentifier + ")");
    QPointer<AutoContinue> self(this);
    generateContinueText([self, sessionId, app = *app](std::string text) {
        if (!self) {
            return;
        }
        if (self->accessibilityGranted_ && !self->accessibilityGranted_()) {
            self->refuse("[Perchwell] auto-continue: accessibility not granted post-await, skipping");
            return;
        }
        if (self->automator_->secureInputEnabled()) {
            self->refuse("[Perchwell] auto-continue: secure input enabled post-await, skipping");
            return;
        }
        self->typeIntoFrontmost(sessionId, app, ContinueText::terminalSafe(text));
    });
}

void AutoContinue::typeIntoFrontmost(const std::string& sessionId, const FrontmostApplication& app,
                                     const std::string& text) {
    auto snapshot = automator_->switchToASCIILayout();
    QPointer<AutoContinue> self(this);
    auto restore = [self, snapshot] {
        if (self && snapshot) {
            QTimer::singleShot(imeRestoreDelayMs, self,
                               [self, snapshot] { self->automator_->restoreInputSource(snapshot); });
        }
    };
    QTimer::singleShot(snapshot ? imeSwitchDelayMs : 0, this, [self, sessionId, app, text, restore] {
        if (!self->automator_->sendString(text, app)) {
            restore();
            self->refuse("[Perchwell] auto-continue: pid=" + std::to_string(app.pid) +
                         " is no longer in front, skipping");
            return;
        }
        emit self->continueTyped(sessionId, text);
        QTimer::singleShot(returnDelayMs, self, [self, app, restore] {
            self->automator_->sendReturn(app);
            restore();
            emit self->attemptFinished(QString::fromStdString("frontmost:" + std::to_string(app.pid)));
        });
    });
}

void AutoContinue::generateContinueText(std::function<void(std::string)> done) {
    const std::string fallback(ContinueText::fallback);
    if (!store_ || !store_->ollamaEnabled()) {
        done(fallback);
        return;
    }
    const QUrl url(store_->ollamaBaseURL(), QUrl::StrictMode);
    const QString model = store_->ollamaModel();
    if (!url.isValid() || model.isEmpty()) {
        done(fallback);
        return;
    }
    auto client = OllamaClient::create(url);
    if (!client) {
        systemlog::write("[Perchwell] ollama URL rejected by SSRF guard: " + url.toString().toStdString() +
                         " — using literal 'continue'");
        done(fallback);
        return;
    }
    client->isReachable([client, model, done, fallback](bool reachable) {
        if (!reachable) {
            done(fallback);
            return;
        }
        OllamaClient::GenerateRequest request;
        request.model = model;
        request.prompt = QString::fromUtf8(ContinueText::prompt.data(),
                                           static_cast<qsizetype>(ContinueText::prompt.size()));
        request.system = QString::fromUtf8(ContinueText::system.data(),
                                           static_cast<qsizetype>(ContinueText::system.size()));
        request.numPredict = 30;
        request.temperature = 0.4;
        client->generate(request, [client, done, fallback](OllamaResult<QString> result) {
            if (auto* error = std::get_if<OllamaError>(&result)) {
                systemlog::write("[Perchwell] continue text gen failed: " + error->description() +
                                 " — falling back to 'continue'");
                done(fallback);
                return;
            }
            const auto verdict = ContinueText::judge(std::get<QString>(result).toStdString());
            if (verdict.rejectedWord) {
                systemlog::write("[Perchwell] continue gen rejected anti-continue word '" +
                                 *verdict.rejectedWord + "' in '" + verdict.cleaned +
                                 "' — falling back to continue");
            }
            done(verdict.text);
        });
    });
}

} // namespace perchwell
