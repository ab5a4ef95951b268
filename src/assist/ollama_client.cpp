#include "assist/ollama_client.h"

#include "assist/ollama_url_guard.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <nlohmann/json.hpp>

namespace perchwell {

namespace {

int httpStatus(QNetworkReply* reply) {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() ? status.toInt() : 0;
}

bool isSuccess(int status) {
    return status >= 200 && status <= 299;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

} // namespace

bool OllamaClient::isAllowedURL(const QUrl& url) {
    if (!url.isValid()) {
        return false;
    }
    return OllamaURLGuard::isAllowed(url.scheme().toStdString(), url.host().toStdString());
}

std::shared_ptr<OllamaClient> OllamaClient::create(const QUrl& baseURL) {
    if (!isAllowedURL(baseURL)) {
        return nullptr;
    }
    return std::shared_ptr<OllamaClient>(new OllamaClient(baseURL),
                                         [](OllamaClient* c) { c->deleteLater(); });
}

OllamaClient::OllamaClient(QUrl baseURL) : baseURL_(std::move(baseURL)) {
    // A local server: a proxy from the environment would see the prompts.
    network_.setProxy(QNetworkProxy::NoProxy);
    network_.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

OllamaClient::~OllamaClient() = default;

QUrl OllamaClient::endpoint(const QString& path) const {
    QUrl url = baseURL_;
    QString base = url.path();
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    url.setPath(base + path);
    return url;
}

void OllamaClient::enqueue(std::function<void(std::function<void()>)> start) {
    pending_.push_back(std::move(start));
    if (!busy_) {
        startNext();
    }
}

void OllamaClient::startNext() {
    if (pending_.empty()) {
        busy_ = false;
        return;
    }
    busy_ = true;
    auto start = std::move(pending_.front());
    pending_.pop_front();
    QPointer<OllamaClient> self(this);
    start([self] {
        if (self) {
            // Not from inside the finished operation's own signal handler.
            QMetaObject::invokeMethod(
                self, [self] { self->startNext(); }, Qt::QueuedConnection);
        }
    });
}

void OllamaClient::send(const QString& path, const QByteArray* postBody, std::chrono::milliseconds limit,
                        std::function<void(Answer)> done) {
    QNetworkRequest request(endpoint(path));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    QNetworkReply* reply = nullptr;
    if (postBody) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        reply = network_.post(request, *postBody);
    } else {
        reply = network_.get(request);
    }
    auto timedOut = std::make_shared<bool>(false);
    auto tooLarge = std::make_shared<bool>(false);
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    deadline->start(limit);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, tooLarge](qint64 received, qint64) {
        if (received > maximumBody && !*tooLarge) {
            *tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [reply, timedOut, tooLarge, done = std::move(done)] {
        reply->deleteLater();
        Answer answer;
        answer.status = httpStatus(reply);
        if (*timedOut) {
            answer.transportError = QStringLiteral("The request timed out.");
        } else if (*tooLarge) {
            answer.transportError = QStringLiteral("The response is too large.");
        } else if (answer.status == 0 && reply->error() != QNetworkReply::NoError) {
            answer.transportError = reply->errorString();
        }
        if (answer.transportError) {
            answer.status = 0;
        } else {
            answer.body = reply->readAll().toStdString();
        }
        done(std::move(answer));
    });
}

void OllamaClient::isReachable(std::function<void(bool)> done) {
    QPointer<OllamaClient> self(this);
    enqueue([self, done = std::move(done)](std::function<void()> finished) mutable {
        self->send(QStringLiteral("/api/tags"), nullptr, reachableTimeout,
                   [done = std::move(done), finished](Answer answer) {
                       done(!answer.transportError && isSuccess(answer.status));
                       finished();
                   });
    });
}

void OllamaClient::listModels(std::function<void(QStringList)> done) {
    QPointer<OllamaClient> self(this);
    enqueue([self, done = std::move(done)](std::function<void()> finished) mutable {
        self->send(QStringLiteral("/api/tags"), nullptr, listTimeout,
                   [self, done = std::move(done), finished](Answer answer) {
                       QStringList names;
                       if (answer.transportError) {
                           self->log_.warning("listModels GET /api/tags failed: " +
                                              answer.transportError->toStdString());
                           done(names);
                           finished();
                           return;
                       }
                       // The status is not looked at: the body decides.
                       const auto json = nlohmann::json::parse(answer.body, nullptr, false);
                       if (!json.is_object()) {
                           self->log_.warning("listModels: response is not JSON object (" +
                                              std::to_string(answer.body.size()) + "B)");
                       } else if (auto models = json.find("models");
                                  models == json.end() || !models->is_array() ||
                                  !std::all_of(models->begin(), models->end(),
                                               [](const nlohmann::json& m) { return m.is_object(); })) {
                           self->log_.warning("listModels: response missing 'models' field");
                       } else {
                           std::vector<std::string> found;
                           for (const auto& model : *models) {
                               if (auto name = model.find("name"); name != model.end() && name->is_string()) {
                                   found.push_back(name->get<std::string>());
                               }
                           }
                           std::sort(found.begin(), found.end());
                           for (const auto& name : found) {
                               names << QString::fromStdString(name);
                           }
                       }
                       done(names);
                       finished();
                   });
    });
}

void OllamaClient::generate(const GenerateRequest& request, std::function<void(OllamaResult<QString>)> done) {
    nlohmann::json options = {{"temperature", request.temperature}};
    if (request.numPredict) {
        options["num_predict"] = *request.numPredict;
    }
    nlohmann::json body = {{"model", request.model.toStdString()},
                           {"prompt", request.prompt.toStdString()},
                           {"stream", false},
                           {"options", options}};
    if (request.system) {
        body["system"] = request.system->toStdString();
    }
    const QByteArray payload =
        QByteArray::fromStdString(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    const std::string model = request.model.toStdString();
    QPointer<OllamaClient> self(this);
    enqueue([self, payload, model, done = std::move(done)](std::function<void()> finished) mutable {
        self->send(QStringLiteral("/api/generate"), &payload, generateTimeout,
                   [model, done = std::move(done), finished](Answer answer) {
                       done([&]() -> OllamaResult<QString> {
                           if (answer.transportError) {
                               return OllamaError::notReachable(answer.transportError->toStdString());
                           }
                           if (answer.status == 404) {
                               if (lowered(answer.body).find("model") != std::string::npos) {
                                   return OllamaError::modelMissing(model);
                               }
                               return OllamaError::badStatus(404, answer.body);
                           }
                           if (!isSuccess(answer.status)) {
                               return OllamaError::badStatus(answer.status, answer.body);
                           }
                           const auto json = nlohmann::json::parse(answer.body, nullptr, false);
                           if (json.is_object()) {
                               if (auto text = json.find("response");
                                   text != json.end() && text->is_string()) {
                                   return QString::fromStdString(text->get<std::string>());
                               }
                           }
                           return OllamaError::decodeFailed();
                       }());
                       finished();
                   });
    });
}

void OllamaClient::pullModel(const QString& name, std::function<void(double)> progress,
                             std::function<void(std::optional<OllamaError>)> done) {
    const nlohmann::json body = {{"name", name.toStdString()}, {"stream", true}};
    const QByteArray payload = QByteArray::fromStdString(body.dump());
    QPointer<OllamaClient> self(this);
    enqueue([self, payload, progress = std::move(progress),
             done = std::move(done)](std::function<void()> finished) mutable {
        QNetworkRequest request(self->endpoint(QStringLiteral("/api/pull")));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        request.setTransferTimeout(static_cast<int>(pullIdleTimeout.count()));
        QNetworkReply* reply = self->network_.post(request, payload);

        struct Stream {
            std::string pending;
            double lastReported = -1.0;
            bool over = false;
        };
        auto stream = std::make_shared<Stream>();
        auto finish = [reply, stream, done, finished](std::optional<OllamaError> error) {
            if (stream->over) {
                return;
            }
            stream->over = true;
            // Deleting an unfinished reply ends its download.
            reply->disconnect();
            reply->deleteLater();
            done(std::move(error));
            finished();
        };
        // One line of the stream; true when it ended the pull.
        auto line = [stream, progress, finish](const std::string& text) {
            const auto json = nlohmann::json::parse(text, nullptr, false);
            if (!json.is_object()) {
                return false;
            }
            if (auto error = json.find("error"); error != json.end() && error->is_string()) {
                finish(OllamaError::badStatus(500, error->get<std::string>()));
                return true;
            }
            auto total = json.find("total");
            auto completed = json.find("completed");
            if (total != json.end() && completed != json.end() && total->is_number() &&
                completed->is_number() && total->get<double>() > 0) {
                const double fraction = std::min(completed->get<double>() / total->get<double>(), 1.0);
                if (fraction >= 1.0 || fraction > stream->lastReported + 0.02) {
                    progress(fraction);
                    stream->lastReported = fraction;
                }
            }
            if (auto status = json.find("status");
                status != json.end() && status->is_string() && status->get<std::string>() == "success") {
                progress(1.0);
                finish(std::nullopt);
                return true;
            }
            return false;
        };
        auto drain = [stream, line](QNetworkReply* r, bool atEnd) {
            stream->pending += r->readAll().toStdString();
            size_t start = 0;
            for (size_t end; (end = stream->pending.find('\n', start)) != std::string::npos;
                 start = end + 1) {
                if (line(stream->pending.substr(start, end - start))) {
                    return true;
                }
            }
            stream->pending.erase(0, start);
            if (atEnd && !stream->pending.empty()) {
                return line(std::exchange(stream->pending, {}));
            }
            return false;
        };
        auto statusOk = [reply, finish]() {
            const int status = httpStatus(reply);
            if (status != 0 && !isSuccess(status)) {
                finish(OllamaError::badStatus(status, "pull failed"));
                return false;
            }
            return true;
        };
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, statusOk, drain] {
            if (statusOk()) {
                drain(reply, false);
            }
        });
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, stream, statusOk, drain, finish] {
            const int status = httpStatus(reply);
            if (status == 0) {
                finish(OllamaError::notReachable(reply->errorString().toStdString()));
                return;
            }
            if (!statusOk() || drain(reply, true)) {
                return;
            }
            if (reply->error() != QNetworkReply::NoError) {
                finish(OllamaError::notReachable(reply->errorString().toStdString()));
                return;
            }
            finish(std::nullopt); // ended without "success": done all the same
        });
    });
}

} // namespace perchwell
