#pragma once

#include <string>

namespace perchwell {

enum class PermissionKind { accessibility };

// What the mascot shows. Equality compares the case and its values.
struct MascotState {
    enum class Kind { needsPermission, exercising, suggestion, paused, pacing, happy };

    Kind kind = Kind::pacing;
    PermissionKind permission = PermissionKind::accessibility; // needsPermission only
    std::string text;                                          // exercising: summary; suggestion: text

    static MascotState needsPermission(PermissionKind kind) { return {Kind::needsPermission, kind, {}}; }
    static MascotState exercising(std::string summary) {
        return {Kind::exercising, PermissionKind::accessibility, std::move(summary)};
    }
    static MascotState suggestion(std::string text) {
        return {Kind::suggestion, PermissionKind::accessibility, std::move(text)};
    }
    static MascotState paused() { return {Kind::paused, PermissionKind::accessibility, {}}; }
    static MascotState pacing() { return {Kind::pacing, PermissionKind::accessibility, {}}; }
    static MascotState happy() { return {Kind::happy, PermissionKind::accessibility, {}}; }

    bool operator==(const MascotState&) const = default;
};

// The raw name of the case ("needsPermission", "pacing", ...), as the local API reports it.
std::string toString(MascotState::Kind kind);

} // namespace perchwell
