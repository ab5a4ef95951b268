#pragma once

#include "platform/lid_switch_guardian.h"

#include <string>

namespace perchwell {

// The closed-lid guardian under `systemd-inhibit --what=handle-lid-switch --mode=block`:
// closing the lid no longer suspends while it runs, and a suspend the user asks for
// still works. Polkit decides whether the lock is granted (an active local session
// needs no password). The guardian runs in a session of its own, reparented away from
// the application, and holds none of the application's descriptors.
class SystemdInhibitGuardian final : public LidSwitchGuardian {
public:
    // `program`: found on PATH unless it holds a slash.
    explicit SystemdInhibitGuardian(std::string program = "systemd-inhibit");

    GuardianOutcome arm(const std::string& loopScript) override;

    static constexpr const char* why = "Agent Keepalive: Closed-Lid Mode while the agent works";

private:
    std::string program_;
};

} // namespace perchwell
