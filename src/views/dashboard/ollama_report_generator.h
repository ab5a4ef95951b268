#pragma once

#include "views/report_generator.h"

#include <memory>

namespace perchwell {

class OllamaClient;

// The weekly report's writer: the local Ollama server, through its client.
class OllamaReportGenerator : public ReportGenerator {
public:
    explicit OllamaReportGenerator(std::shared_ptr<OllamaClient> client) : client_(std::move(client)) {}

    // Builds a client per report; none when the URL guard refuses the URL.
    static Factory factory();

    void isReachable(std::function<void(bool)> done) override;
    void generate(const std::string& model, const std::string& prompt, const std::string& system,
                  int numPredict, double temperature, std::function<void(Result<std::string>)> done) override;

private:
    std::shared_ptr<OllamaClient> client_;
};

} // namespace perchwell
