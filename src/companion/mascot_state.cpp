#include "companion/mascot_state.h"

namespace perchwell {

std::string toString(MascotState::Kind kind) {
    switch (kind) {
    case MascotState::Kind::needsPermission:
        return "needsPermission";
    case MascotState::Kind::exercising:
        return "exercising";
    case MascotState::Kind::suggestion:
        return "suggestion";
    case MascotState::Kind::paused:
        return "paused";
    case MascotState::Kind::pacing:
        return "pacing";
    case MascotState::Kind::happy:
        return "happy";
    }
    return "pacing";
}

} // namespace perchwell
