#pragma once

#include "platform/service_manager_runner.h"

#include <string>

namespace perchwell {

// `systemctl --user <arguments>`, output discarded, waited for on the calling thread.
class SystemctlRunner final : public ServiceManagerRunner {
public:
    explicit SystemctlRunner(std::string tool = "systemctl") : tool_(std::move(tool)) {}
    int run(const std::vector<std::string>& arguments) override;

private:
    std::string tool_;
};

} // namespace perchwell
