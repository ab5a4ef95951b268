#include "views/settings/ollama_section.h"

#include "assist/ollama_client.h"
#include "state/settings_store.h"
#include "views/settings/settings_controls.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <cmath>

namespace perchwell {

OllamaSection::OllamaSection(SettingsStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    enabled_ = boundToggle(store, QStringLiteral("Enable local Ollama"), &SettingsStore::ollamaEnabled,
                           &SettingsStore::setOllamaEnabled, &SettingsStore::ollamaEnabledChanged, this);
    layout->addWidget(enabled_);
    addCaption(layout,
               QStringLiteral("Used for prompt rewrites and context-aware continue messages. Install Ollama "
                              "from your distribution or ollama.com, run `ollama serve`, then pull a model. "
                              "Inference stays local."));

    auto* form = new QFormLayout;
    endpoint_ =
        boundTextField(store, &SettingsStore::ollamaBaseURL, &SettingsStore::setOllamaBaseURL,
                       &SettingsStore::ollamaBaseURLChanged, SettingsStore::defaultOllamaBaseURL(), this);
    model_ = boundTextField(store, &SettingsStore::ollamaModel, &SettingsStore::setOllamaModel,
                            &SettingsStore::ollamaModelChanged, QStringLiteral("qwen2.5:0.5b"), this);
    form->addRow(QStringLiteral("Endpoint"), endpoint_);
    form->addRow(QStringLiteral("Model"), model_);
    layout->addLayout(form);

    auto* buttons = new QHBoxLayout;
    test_ = makeButton(QStringLiteral("Test connection"), QStringLiteral("network"), this);
    download_ = makeButton(QStringLiteral("Download ") + downloadModel + QStringLiteral(" (~350MB)"),
                           QStringLiteral("arrow.down.circle"), this);
    buttons->addWidget(test_);
    buttons->addWidget(download_);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    auto* progressRow = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    progressRow->addWidget(progress_, 1);
    progressRow->addWidget(cancel_);
    layout->addLayout(progressRow);
    progress_->hide();
    cancel_->hide();

    message_ = new QLabel(this);
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->hide();
    layout->addWidget(message_);

    connect(test_, &QPushButton::clicked, this, &OllamaSection::testConnection);
    connect(download_, &QPushButton::clicked, this, &OllamaSection::startDownload);
    connect(cancel_, &QPushButton::clicked, this, &OllamaSection::cancelDownload);
}

OllamaSection::~OllamaSection() = default;

void OllamaSection::showMessage(const QString& text, bool done) {
    message_->setText(text);
    message_->setVisible(!text.isEmpty());
    if (done) {
        emit finished();
    }
}

std::shared_ptr<OllamaClient> OllamaSection::clientOrExplain() {
    QString text = store_.ollamaBaseURL().trimmed();
    if (text.isEmpty()) {
        text = SettingsStore::defaultOllamaBaseURL();
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        showMessage(QStringLiteral("Invalid URL"));
        return nullptr;
    }
    auto client = OllamaClient::create(url);
    if (!client) {
        showMessage(QStringLiteral("URL not allowed. Use http/https and avoid metadata IPs."));
    }
    return client;
}

void OllamaSection::adoptModelFrom(const QStringList& models) {
    if (!models.isEmpty() && !models.contains(store_.ollamaModel())) {
        store_.setOllamaModel(models.first());
    }
}

void OllamaSection::testConnection() {
    probeClient_ = clientOrExplain();
    if (!probeClient_) {
        return;
    }
    test_->setEnabled(false);
    showMessage(QStringLiteral("Testing connection..."), false);
    QPointer<OllamaSection> self(this);
    // Weak in the callbacks: the client keeps them until they have run.
    std::weak_ptr<OllamaClient> weak = probeClient_;
    probeClient_->isReachable([self, weak](bool reachable) {
        auto client = weak.lock();
        if (!self || !client) {
            return;
        }
        if (!reachable) {
            self->test_->setEnabled(true);
            self->showMessage(QStringLiteral("Cannot connect. Check whether Ollama is running."));
            return;
        }
        client->listModels([self](QStringList models) {
            if (!self) {
                return;
            }
            self->test_->setEnabled(true);
            if (models.isEmpty()) {
                self->showMessage(QStringLiteral("Connected, but no models are installed."));
                return;
            }
            self->adoptModelFrom(models);
            self->showMessage(QStringLiteral("Connected · %1 models available").arg(models.size()));
        });
    });
}

void OllamaSection::startDownload() {
    if (downloadClient_) {
        return;
    }
    auto client = clientOrExplain();
    if (!client) {
        return;
    }
    downloadClient_ = client;
    const unsigned generation = ++downloadGeneration_;
    download_->setEnabled(false);
    progress_->setValue(0);
    progress_->show();
    cancel_->show();
    showMessage(QStringLiteral("Checking Ollama..."), false);
    QPointer<OllamaSection> self(this);
    const auto current = [self, generation] { return self && self->downloadGeneration_ == generation; };
    // Weak in the callbacks: cancelling drops the last reference, which aborts the pull.
    std::weak_ptr<OllamaClient> weak = client;
    client->isReachable([self, weak, current](bool reachable) {
        auto client = weak.lock();
        if (!current() || !client) {
            return;
        }
        if (!reachable) {
            self->endDownload();
            self->showMessage(QStringLiteral("Ollama is not reachable. Run `ollama serve` first."));
            return;
        }
        self->showMessage(QStringLiteral("Downloading 0%"), false);
        client->pullModel(
            downloadModel,
            [self, current](double fraction) {
                if (!current()) {
                    return;
                }
                const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100));
                self->progress_->setValue(percent);
                self->showMessage(QStringLiteral("Downloading %1%").arg(percent), false);
            },
            [self, weak, current](std::optional<OllamaError> error) {
                auto client = weak.lock();
                if (!current() || !client) {
                    return;
                }
                self->endDownload();
                if (error) {
                    self->showMessage(QStringLiteral("Download failed: ") +
                                      QString::fromStdString(error->description()));
                    return;
                }
                self->showMessage(QStringLiteral("Download complete"), false);
                self->probeClient_ = client; // kept for the model list that follows
                client->listModels([self](QStringList models) {
                    if (!self) {
                        return;
                    }
                    if (!models.contains(self->store_.ollamaModel())) {
                        self->store_.setOllamaModel(downloadModel);
                    }
                    self->showMessage(QStringLiteral("Download complete"));
                });
            });
    });
}

void OllamaSection::cancelDownload() {
    if (!downloadClient_) {
        return;
    }
    ++downloadGeneration_;
    endDownload();
    showMessage(QStringLiteral("Download cancelled"));
}

void OllamaSection::endDownload() {
    // Dropping the client aborts its request (its network manager goes with it).
    downloadClient_.reset();
    download_->setEnabled(true);
    progress_->hide();
    cancel_->hide();
}

} // namespace perchwell
