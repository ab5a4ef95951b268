#include "assist/prompt_enhancer.h"

#include "assist/ollama_client.h"
#include "assist/prompt_rewrite.h"
#include "common/utf8.h"
#include "companion/mascot_controlling.h"
#include "state/settings_store.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QTextBoundaryFinder>

namespace perchwell {

namespace {

int graphemeCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

std::string shortId(const std::string& id) {
    return id.substr(0, 8);
}

} // namespace

PromptEnhancer::PromptEnhancer(SettingsStore& store, MascotControlling* mascot, Clock clock,
                               Clipboard clipboard, QObject* parent)
    : QObject(parent), store_(&store), mascot_(mascot), clock_(std::move(clock)),
      clipboard_(std::move(clipboard)) {
    if (!clock_) {
        clock_ = [] { return QDateTime::currentMSecsSinceEpoch() / 1000.0; };
    }
    if (!clipboard_) {
        clipboard_ = [](const QString& text) {
            // Headless runs have no clipboard.
            if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
                QClipboard* board = QGuiApplication::clipboard();
                board->clear();
                board->setText(text);
            }
        };
    }
}

bool PromptEnhancer::worthImproving(const QString& text) {
    const QString trimmed = text.trimmed();
    if (graphemeCount(trimmed) < static_cast<int>(PromptRewrite::shortPrompt)) {
        return true;
    }
    return !PromptRewrite::looksSpecific(trimmed.toStdString());
}

void PromptEnhancer::consider(const UserEntry& entry) {
    if (!store_ || !store_->promptEnhancerEnabled() || !store_->ollamaEnabled()) {
        return;
    }
    if (!worthImproving(QString::fromStdString(entry.content))) {
        return;
    }
    const double now = clock_();
    if (auto last = lastFiredAt_.find(entry.sessionId);
        last != lastFiredAt_.end() && now - last->second < cooldown) {
        return;
    }
    // Taken before the rewrite runs, whatever comes of it.
    lastFiredAt_[entry.sessionId] = now;
    QPointer<PromptEnhancer> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, entry] {
            if (self) {
                self->doRewrite(entry);
            }
        },
        Qt::QueuedConnection);
}

void PromptEnhancer::doRewrite(const UserEntry& entry) {
    if (!store_) {
        return;
    }
    const QString model = store_->ollamaModel();
    const QUrl url(store_->ollamaBaseURL(), QUrl::StrictMode);
    if (model.isEmpty() || !url.isValid()) {
        emit rewriteFinished({});
        return;
    }
    auto client = OllamaClient::create(url);
    if (!client) {
        log_.debug("ollama URL rejected by SSRF guard, skipping rewrite for " + shortId(entry.uuid));
        emit rewriteFinished({});
        return;
    }
    QPointer<PromptEnhancer> self(this);
    client->isReachable([self, client, entry, model](bool reachable) {
        if (!self) {
            return;
        }
        if (!reachable) {
            self->log_.debug("ollama unreachable, skipping rewrite for " + shortId(entry.uuid));
            emit self->rewriteFinished({});
            return;
        }
        OllamaClient::GenerateRequest request;
        request.model = model;
        request.prompt =
            QString::fromStdString(PromptRewrite::userPrompt(entry.content, entry.cwd, entry.gitBranch));
        request.system = QString::fromUtf8(PromptRewrite::systemPrompt.data(),
                                           static_cast<qsizetype>(PromptRewrite::systemPrompt.size()));
        request.numPredict = 200;
        request.temperature = 0.2;
        client->generate(request, [self, client, entry](OllamaResult<QString> result) {
            if (!self) {
                return;
            }
            if (auto* error = std::get_if<OllamaError>(&result)) {
                self->log_.warning("rewrite failed: " + error->description());
                emit self->rewriteFinished({});
                return;
            }
            const QString suggestion = std::get<QString>(result).trimmed();
            if (suggestion.isEmpty() || suggestion == QStringLiteral("ORIGINAL") ||
                suggestion == QString::fromStdString(entry.content)) {
                self->log_.debug("ollama returned ORIGINAL/empty for " + shortId(entry.uuid));
                emit self->rewriteFinished({});
                return;
            }
            self->present(suggestion);
        });
    });
}

void PromptEnhancer::present(const QString& suggestion) {
    clipboard_(suggestion);
    log_.info("suggestion ready (copied to clipboard): " +
              std::string(utf8::firstCharacters(suggestion.toStdString(), 80)));
    if (mascot_) {
        mascot_->set(MascotState::suggestion(suggestion.toStdString()));
    }
    emit rewriteFinished(suggestion);
}

} // namespace perchwell
