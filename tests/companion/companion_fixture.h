#pragma once

#include "app/settings_store.h"
#include "companion/mascot_controlling.h"
#include "platform/login_item_service.h"
#include "support/temp_home.h"

#include <memory>
#include <vector>

namespace perchwell::testing {

class FakeLoginItem : public LoginItemService {
public:
    LoginItemStatus status() const override { return LoginItemStatus::notRegistered; }
    Result<void> registerItem() override { return {}; }
    Result<void> unregisterItem() override { return {}; }
};

// A settings store of its own in a temporary home.
struct StoreFixture {
    TempHome home;
    SettingsStore store{home.path() + "/defaults.json", std::make_shared<FakeLoginItem>()};
};

// Records every state it is given.
class RecordingMascot : public MascotControlling {
public:
    std::vector<MascotState> states;
    MascotState current = MascotState::pacing();
    int shows = 0;
    void show() override { ++shows; }
    void hide() override {}
    void set(const MascotState& state) override {
        states.push_back(state);
        current = state;
    }
    MascotState state() const override { return current; }
    void beginExercise() override {}
};

} // namespace perchwell::testing
