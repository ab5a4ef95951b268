#pragma once

#include <string>

namespace perchwell::testing {

// A throw-away D-Bus daemon (session configuration) for stand-in services; stopped when
// it goes out of scope. `address()` is empty when dbus-daemon could not be started.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    // Points DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS at this bus, so that
    // processes started from now on (and a process's first bus connection) use it.
    void exportAsSystemAndSessionBus() const;

private:
    std::string address_;
    int pid_ = -1;
};

} // namespace perchwell::testing
