#pragma once

#include "app/recording_mascot.h"
#include "app/settings_store.h"
#include "platform/login_item_service.h"
#include "support/temp_home.h"

#include <memory>

namespace perchwell::testing {

class FakeLoginItem : public LoginItemService {
public:
    LoginItemStatus status() const override { return LoginItemStatus::notRegistered; }
    Result<void> registerItem() override { return {}; }
    Result<void> unregisterItem() override { return {}; }
};

// A settings store of its own in a temporary home (RecordingMascot comes along).
struct StoreFixture {
    TempHome home;
    SettingsStore store{home.path() + "/defaults.json", std::make_shared<FakeLoginItem>()};
};

} // namespace perchwell::testing
