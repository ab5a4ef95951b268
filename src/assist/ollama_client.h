#pragma once

#include "assist/ollama_error.h"
#include "common/app_logger.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QNetworkReply;

namespace perchwell {

// A client of a local Ollama server over its HTTP API. Built on demand from the
// current settings by whoever needs one, through the URL guard. Requests are
// asynchronous on the main thread's event loop (nothing waits on the network there),
// every one has a time-out, redirects are not followed (they could lead past the
// guard) and no proxy is used. The operations of one client run one at a time, in
// the order asked; each callback runs on the main thread.
class OllamaClient : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds reachableTimeout{2000};
    static constexpr std::chrono::milliseconds listTimeout{4000};
    static constexpr std::chrono::milliseconds generateTimeout{60000};
    // A pull may run for long; it ends when the server says nothing for this long.
    static constexpr std::chrono::milliseconds pullIdleTimeout{3600 * 1000};
    // Answers are small; a server that sends more is not an Ollama server.
    static constexpr qint64 maximumBody = 8 * 1024 * 1024;

    // The URL guard.
    static bool isAllowedURL(const QUrl& url);
    // A client for `baseURL`, or none when the guard refuses it. Released with
    // deleteLater, so a callback may drop the last reference.
    static std::shared_ptr<OllamaClient> create(const QUrl& baseURL);

    const QUrl& baseURL() const { return baseURL_; }

    // GET /api/tags answers 2xx within 2 s. Never fails.
    void isReachable(std::function<void(bool)> done);
    // The installed models' names, sorted; empty on any problem (logged).
    void listModels(std::function<void(QStringList)> done);
    // Downloads `name`, calling `progress` with fractions from 0 to 1; `done` gets
    // nothing on success.
    void pullModel(const QString& name, std::function<void(double)> progress,
                   std::function<void(std::optional<OllamaError>)> done);

    struct GenerateRequest {
        QString model;
        QString prompt;
        std::optional<QString> system;
        std::optional<int> numPredict;
        double temperature = 0.8;
    };
    // A non-streamed completion: the model's "response" text.
    void generate(const GenerateRequest& request, std::function<void(OllamaResult<QString>)> done);

    ~OllamaClient() override;

private:
    explicit OllamaClient(QUrl baseURL);

    struct Answer {
        int status = 0; // 0 without an HTTP response
        std::string body;
        std::optional<QString> transportError;
    };
    QUrl endpoint(const QString& path) const;
    // Runs `start` once the operations before it have finished; `start` calls the
    // function it is given when its operation is over.
    void enqueue(std::function<void(std::function<void()>)> start);
    void startNext();
    // One request with a deadline for the whole exchange, its whole body collected.
    void send(const QString& path, const QByteArray* postBody, std::chrono::milliseconds limit,
              std::function<void(Answer)> done);

    QUrl baseURL_;
    AppLogger log_{"ollama"};
    QNetworkAccessManager network_;
    std::deque<std::function<void(std::function<void()>)>> pending_;
    bool busy_ = false;
};

} // namespace perchwell
