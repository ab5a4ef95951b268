#include "views/dashboard/ollama_report_generator.h"

#include "assist/ollama_client.h"

#include <QUrl>

namespace perchwell {

ReportGenerator::Factory OllamaReportGenerator::factory() {
    return [](const std::string& baseURL) -> std::unique_ptr<ReportGenerator> {
        auto client = OllamaClient::create(QUrl(QString::fromStdString(baseURL)));
        if (!client) {
            return nullptr;
        }
        return std::make_unique<OllamaReportGenerator>(std::move(client));
    };
}

void OllamaReportGenerator::isReachable(std::function<void(bool)> done) {
    client_->isReachable(std::move(done));
}

void OllamaReportGenerator::generate(const std::string& model, const std::string& prompt,
                                     const std::string& system, int numPredict, double temperature,
                                     std::function<void(Result<std::string>)> done) {
    OllamaClient::GenerateRequest request;
    request.model = QString::fromStdString(model);
    request.prompt = QString::fromStdString(prompt);
    request.system = QString::fromStdString(system);
    request.numPredict = numPredict;
    request.temperature = temperature;
    client_->generate(request, [done = std::move(done)](OllamaResult<QString> answer) {
        if (const auto* text = std::get_if<QString>(&answer)) {
            done(text->toStdString());
        } else {
            done(Result<std::string>(Error{std::get<OllamaError>(answer).description()}));
        }
    });
}

} // namespace perchwell
