#pragma once

#include "companion/mascot_state.h"

namespace perchwell {

// What other components may ask of the mascot. The window controller implements it;
// tests use a recording double.
class MascotControlling {
public:
    virtual ~MascotControlling() = default;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void set(const MascotState& state) = 0;
    virtual MascotState state() const = 0;
    virtual void beginExercise() = 0;
};

} // namespace perchwell
