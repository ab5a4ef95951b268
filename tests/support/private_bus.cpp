#include "support/private_bus.h"

#include "support/process.h"

#include <csignal>
#include <cstdlib>
#include <sstream>

namespace perchwell::testing {

PrivateBus::PrivateBus() {
    const auto started =
        runProcess({"/usr/bin/dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"});
    std::istringstream lines(started.out);
    std::string address, pid;
    if (started.exitCode == 0 && std::getline(lines, address) && std::getline(lines, pid)) {
        address_ = address;
        pid_ = std::atoi(pid.c_str());
    }
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
    }
}

void PrivateBus::exportAsSystemAndSessionBus() const {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

} // namespace perchwell::testing
