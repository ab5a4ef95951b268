#pragma once

#include "platform/login_item_service.h"
#include "state/settings_store.h"
#include "support/recording_mascot.h"
#include "support/temp_home.h"

#include <memory>
#include <optional>
#include <string>

namespace perchwell::testing {

// A login-item service whose answers the test sets; by default it registers fine.
class FakeLoginItem final : public LoginItemService {
public:
    LoginItemStatus status() const override { return currentStatus; }
    Result<void> registerItem() override { return change(LoginItemStatus::enabled, registerCalls); }
    Result<void> unregisterItem() override { return change(LoginItemStatus::notRegistered, unregisterCalls); }

    LoginItemStatus currentStatus = LoginItemStatus::notRegistered;
    std::optional<std::string> failWith;
    std::optional<LoginItemStatus> statusAfterFailure;
    int registerCalls = 0;
    int unregisterCalls = 0;

private:
    Result<void> change(LoginItemStatus after, int& calls) {
        ++calls;
        if (failWith) {
            currentStatus = statusAfterFailure.value_or(currentStatus);
            return Error{*failWith};
        }
        currentStatus = after;
        return {};
    }
};

// A settings store of its own in a temporary home (RecordingMascot comes along).
struct StoreFixture {
    TempHome home;
    SettingsStore store{home.path() + "/defaults.json", std::make_shared<FakeLoginItem>()};
};

} // namespace perchwell::testing
