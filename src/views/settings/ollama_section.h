#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <memory>

namespace perchwell {

class OllamaClient;
class SettingsStore;

// The local Ollama server: switch, address, model, the connection test and the download
// of the small default model. Results and progress live here only.
class OllamaSection : public QWidget {
    Q_OBJECT
public:
    static inline const QString downloadModel = QStringLiteral("qwen2.5:0.5b");

    explicit OllamaSection(SettingsStore& store, QWidget* parent = nullptr);
    ~OllamaSection() override;

    QCheckBox* enabledToggle() const { return enabled_; }
    QLineEdit* endpointField() const { return endpoint_; }
    QLineEdit* modelField() const { return model_; }
    QPushButton* testButton() const { return test_; }
    QPushButton* downloadButton() const { return download_; }
    QPushButton* cancelButton() const { return cancel_; }
    QProgressBar* progressBar() const { return progress_; }
    QString message() const { return message_->text(); }
    bool downloading() const { return downloadClient_ != nullptr; }

    void testConnection();
    void startDownload();
    void cancelDownload();

signals:
    // A test or download has finished and its message is shown.
    void finished();

private:
    // A client for the address in the settings, or the message saying why there is none.
    std::shared_ptr<OllamaClient> clientOrExplain();
    void showMessage(const QString& text, bool done = true);
    void adoptModelFrom(const QStringList& models);
    void endDownload();

    SettingsStore& store_;
    QCheckBox* enabled_;
    QLineEdit* endpoint_;
    QLineEdit* model_;
    QPushButton* test_;
    QPushButton* download_;
    QPushButton* cancel_;
    QProgressBar* progress_;
    QLabel* message_;
    std::shared_ptr<OllamaClient> probeClient_;
    std::shared_ptr<OllamaClient> downloadClient_;
    // Bumped by every new download and by cancel, so late answers of an old one are dropped.
    unsigned downloadGeneration_ = 0;
};

} // namespace perchwell
