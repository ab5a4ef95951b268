#pragma once

#include "companion/mascot_controlling.h"

#include <vector>

namespace perchwell::testing {

// A mascot that remembers every state it was asked to show.
class RecordingMascot final : public MascotControlling {
public:
    void show() override { ++shown; }
    void hide() override {}
    void set(const MascotState& state) override {
        current = state;
        history.push_back(state);
    }
    MascotState state() const override { return current; }
    void beginExercise() override {}

    MascotState current = MascotState::happy();
    std::vector<MascotState> history;
    int shown = 0;
};

} // namespace perchwell::testing
