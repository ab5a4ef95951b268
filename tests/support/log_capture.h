#pragma once

#include "common/app_logger.h"
#include "common/system_log.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace perchwell::testing {

// Collects component log records and system-log lines while it lives.
class LogCapture {
public:
    LogCapture() {
        AppLogger::setSink([this](const AppLogger::Record& r) {
            std::lock_guard lock(mutex_);
            records_.push_back(r);
        });
        systemlog::setSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            systemLines_.emplace_back(line);
        });
    }
    ~LogCapture() {
        AppLogger::setSink({});
        systemlog::setSink({});
    }

    std::vector<std::string> messages(const std::string& category) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& r : records_) {
            if (r.category == category) {
                out.push_back(r.message);
            }
        }
        return out;
    }
    std::vector<AppLogger::Record> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::vector<std::string> systemLines() const {
        std::lock_guard lock(mutex_);
        return systemLines_;
    }
    size_t count(const std::string& category, const std::string& message) const {
        const auto all = messages(category);
        return static_cast<size_t>(std::count(all.begin(), all.end(), message));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
        systemLines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<AppLogger::Record> records_;
    std::vector<std::string> systemLines_;
};

} // namespace perchwell::testing
