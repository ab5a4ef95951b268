#pragma once

#include <string>
#include <vector>

namespace perchwell {

// Runs the user's service manager tool with some arguments and waits for it. The
// Linux backend is `systemctl --user`; tests use a recording double.
class ServiceManagerRunner {
public:
    virtual ~ServiceManagerRunner() = default;
    // The tool's exit status, or -1 when it could not be started.
    virtual int run(const std::vector<std::string>& arguments) = 0;
};

} // namespace perchwell
