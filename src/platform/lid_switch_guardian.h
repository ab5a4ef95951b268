#pragma once

#include "common/unique_fd.h"

#include <string>

namespace perchwell {

struct GuardianOutcome {
    bool ok = false;
    std::string message; // the system's words when not ok
    // When ok: reads end-of-file once the guardian has ended, whatever ended it (invalid
    // where that cannot be told).
    UniqueFd endWatch;
};

// Starts the closed-lid guardian: `loopScript` run by /bin/sh as "pv-closedlid", in a
// process of its own that may outlive the application, while closing the lid does not
// suspend the machine. The script prints "armed" and a line feed first; it ends by
// itself once its deadline is gone. Blocks until the system has granted or refused the
// lock, so it is called off the main thread. Thread-safe.
class LidSwitchGuardian {
public:
    virtual ~LidSwitchGuardian() = default;
    virtual GuardianOutcome arm(const std::string& loopScript) = 0;
};

} // namespace perchwell
