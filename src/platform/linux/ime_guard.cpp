#include "platform/linux/ime_guard.h"

#include <algorithm>

namespace perchwell {

namespace {

std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

} // namespace

std::optional<std::string> ImeGuard::firstLine(const std::vector<std::string>& argv) {
    auto result = runner_.run(argv);
    if (!result || result->exitCode != 0) {
        return std::nullopt;
    }
    std::string line = result->out.substr(0, result->out.find('\n'));
    line = trimmed(line);
    if (line.empty()) {
        return std::nullopt;
    }
    return line;
}

std::optional<InputSourceSnapshot> ImeGuard::switchToASCIILayout() {
    // Fcitx5 answers its state: 0 closed, 1 inactive (a layout types), 2 active.
    if (auto state = firstLine({"fcitx5-remote"})) {
        if (*state != "2") {
            return std::nullopt;
        }
        const std::string current = firstLine({"fcitx5-remote", "-n"}).value_or("unknown");
        if (current.starts_with("keyboard-")) {
            return std::nullopt;
        }
        return switchFcitx5(current);
    }
    if (auto engine = firstLine({"ibus", "engine"})) {
        if (engine->starts_with("xkb:")) {
            return std::nullopt;
        }
        return switchIBus(*engine);
    }
    return std::nullopt;
}

bool ImeGuard::select(const std::vector<std::string>& argv, const char* what) {
    auto result = runner_.run(argv);
    if (result && result->exitCode == 0) {
        return true;
    }
    const std::string status = result ? std::to_string(result->exitCode) : result.error().message;
    log_.warning(std::string("IME guard: ") + what + " failed status=" + status);
    return false;
}

std::optional<InputSourceSnapshot> ImeGuard::switchFcitx5(const std::string& current) {
    // Deactivating returns Fcitx5 to the group's keyboard layout.
    if (!select({"fcitx5-remote", "-c"}, "select ASCII layout")) {
        return std::nullopt;
    }
    log_.info("IME guard: switched " + current + " → ASCII for keystroke");
    return InputSourceSnapshot{"fcitx5", current};
}

std::optional<std::string> ImeGuard::firstIBusLayout() {
    // Only enabled engines: one the user never added may type another layout.
    auto result = runner_.run({"gsettings", "get", "org.freedesktop.ibus.general", "preload-engines"});
    if (!result || result->exitCode != 0) {
        return std::nullopt;
    }
    std::vector<std::string> enabled;
    // The answer is a GVariant list of strings: ['xkb:us::eng', 'anthy'].
    const std::string& out = result->out;
    for (size_t open = out.find('\''); open != std::string::npos; open = out.find('\'', open + 1)) {
        const size_t close = out.find('\'', open + 1);
        if (close == std::string::npos) {
            break;
        }
        enabled.push_back(out.substr(open + 1, close - open - 1));
        open = close;
    }
    for (const char* preferred : preferredIBusLayouts) {
        if (std::find(enabled.begin(), enabled.end(), preferred) != enabled.end()) {
            return std::string(preferred);
        }
    }
    for (const auto& engine : enabled) {
        if (engine.starts_with("xkb:")) {
            return engine;
        }
    }
    return std::nullopt;
}

std::optional<InputSourceSnapshot> ImeGuard::switchIBus(const std::string& current) {
    auto target = firstIBusLayout();
    if (!target) {
        log_.warning("IME guard: no ASCII keyboard layout installed; cannot defeat " + current);
        return std::nullopt;
    }
    if (!select({"ibus", "engine", *target}, "select ASCII layout")) {
        return std::nullopt;
    }
    log_.info("IME guard: switched " + current + " → ASCII for keystroke");
    return InputSourceSnapshot{"ibus", current};
}

void ImeGuard::restoreInputSource(const std::optional<InputSourceSnapshot>& snapshot) {
    if (!snapshot) {
        return;
    }
    const std::string what = "restore " + snapshot->id;
    if (snapshot->framework == "fcitx5") {
        select({"fcitx5-remote", "-s", snapshot->id}, what.c_str());
    } else if (snapshot->framework == "ibus") {
        select({"ibus", "engine", snapshot->id}, what.c_str());
    }
}

} // namespace perchwell
