#pragma once

#include "common/result.h"

#include <functional>
#include <memory>
#include <string>

namespace perchwell {

// What the weekly report needs of a local model server: the Ollama client implements
// it. Callbacks arrive on the main thread.
class ReportGenerator {
public:
    virtual ~ReportGenerator() = default;
    virtual void isReachable(std::function<void(bool)> done) = 0;
    virtual void generate(const std::string& model, const std::string& prompt, const std::string& system,
                          int numPredict, double temperature,
                          std::function<void(Result<std::string>)> done) = 0;

    // A client for a base URL; nothing when the URL guard refuses it.
    using Factory = std::function<std::unique_ptr<ReportGenerator>(const std::string& baseURL)>;
};

} // namespace perchwell
