#pragma once

#include "common/app_logger.h"
#include "common/unique_fd.h"
#include "platform/power_assertions.h"

#include <QString>
#include <map>

namespace perchwell {

// Power assertions as systemd-logind inhibitors: for each kind one `Inhibit` with what
// "idle" and mode "block" on the system bus, held as its descriptor (closing it
// releases). Never a "sleep" lock, so a suspend the user asks for still happens. Where
// the desktop session runs its own idle-suspend timer (GNOME's power daemon does not
// follow logind's idle inhibitors), the idle kind also takes the session's inhibit.
// Without logind the call fails with the bus error. Main thread only.
class LogindPowerAssertions final : public PowerAssertions {
public:
    LogindPowerAssertions();
    ~LogindPowerAssertions() override;

    Result<AssertionId> create(AssertionKind kind, const std::string& name) override;
    Result<void> release(AssertionId id) override;

private:
    struct SessionInhibit {
        QString service; // empty: none taken
        quint32 cookie = 0;
    };
    struct Held {
        UniqueFd inhibitor;
        SessionInhibit session;
    };

    SessionInhibit inhibitSession(const QString& why);
    void uninhibitSession(const SessionInhibit& inhibit);

    AppLogger log_{"workflow.keepalive"};
    std::map<AssertionId, Held> held_;
    AssertionId nextId_ = 1;
};

} // namespace perchwell
