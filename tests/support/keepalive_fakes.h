#pragma once

#include "platform/desktop_notifications.h"
#include "platform/lid_switch_guardian.h"
#include "platform/power_assertions.h"

#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace perchwell::testing {

// Records every assertion created and released; any kind can be made to fail.
class FakePowerAssertions final : public PowerAssertions {
public:
    struct Created {
        AssertionKind kind;
        std::string name;
        AssertionId id;
    };

    Result<AssertionId> create(AssertionKind kind, const std::string& name) override {
        if (failing.count(kind) != 0) {
            return Error{failure};
        }
        const AssertionId id = nextId++;
        created.push_back({kind, name, id});
        held.insert(id);
        return id;
    }
    Result<void> release(AssertionId id) override {
        released.push_back(id);
        if (held.erase(id) == 0) {
            return Error{"unknown id"};
        }
        return {};
    }

    std::set<AssertionKind> failing;
    std::string failure = "-536870199";
    std::vector<Created> created;
    std::vector<AssertionId> released;
    std::set<AssertionId> held;
    AssertionId nextId = 1;
};

// Answers each arming with `outcome`; while `gated`, the answer waits for open(). A
// granted guardian "runs" until end().
class FakeLidSwitchGuardian final : public LidSwitchGuardian {
public:
    struct Answer {
        bool ok = true;
        std::string message;
    };

    GuardianOutcome arm(const std::string& loopScript) override {
        std::unique_lock lock(mutex_);
        ++arms;
        lastScript = loopScript;
        opened_.wait(lock, [this] { return !gated; });
        GuardianOutcome answer{outcome.ok, outcome.message, {}};
        int fds[2];
        if (outcome.ok && ::pipe2(fds, O_CLOEXEC) == 0) {
            answer.endWatch.reset(fds[0]);
            running_.reset(fds[1]);
        }
        return answer;
    }
    // The guardian goes away by itself.
    void end() {
        std::lock_guard lock(mutex_);
        running_.reset();
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            gated = false;
        }
        opened_.notify_all();
    }

    std::atomic<int> arms{0};
    bool gated = false;
    Answer outcome;
    std::string lastScript;

private:
    UniqueFd running_;
    std::mutex mutex_;
    std::condition_variable opened_;
};

// Keeps what would have been shown; fails every post while `failWith` is set.
class FakeDesktopNotifications final : public DesktopNotifications {
public:
    void requestAuthorization() override { ++authorizationRequests; }
    void post(const DesktopNotification& notification, Completion done) override {
        posted.push_back(notification);
        done(failWith.empty() ? Result<void>{} : Result<void>{Error{failWith}});
    }

    int authorizationRequests = 0;
    std::vector<DesktopNotification> posted;
    std::string failWith;
};

} // namespace perchwell::testing
