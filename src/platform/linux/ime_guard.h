#pragma once

#include "common/app_logger.h"
#include "platform/command_runner.h"
#include "platform/input_automator.h"

#include <optional>
#include <string>

namespace perchwell {

// Keeps an input method from swallowing typed letters into a composition window:
// when an IBus or Fcitx5 engine (not a plain xkb layout) is active, it selects a
// plain keyboard layout for the duration of the typing, and the engine again after.
// Works through the frameworks' own command-line tools; without them nothing is
// switched. Main thread only.
class ImeGuard {
public:
    explicit ImeGuard(CommandRunner& runner, const AppLogger& log) : runner_(runner), log_(log) {}

    // IBus layouts tried first, in order, before any other enabled "xkb:" engine.
    static constexpr const char* preferredIBusLayouts[] = {"xkb:us::eng"};

    std::optional<InputSourceSnapshot> switchToASCIILayout();
    void restoreInputSource(const std::optional<InputSourceSnapshot>& snapshot);

private:
    std::optional<std::string> firstLine(const std::vector<std::string>& argv);
    std::optional<InputSourceSnapshot> switchFcitx5(const std::string& current);
    std::optional<InputSourceSnapshot> switchIBus(const std::string& current);
    std::optional<std::string> firstIBusLayout();
    bool select(const std::vector<std::string>& argv, const char* what);

    CommandRunner& runner_;
    const AppLogger& log_;
};

} // namespace perchwell
