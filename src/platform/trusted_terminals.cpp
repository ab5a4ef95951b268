#include "platform/trusted_terminals.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace perchwell {

const std::vector<std::string_view>& TrustedTerminals::knownTerminalIdentifiers() {
    static const std::vector<std::string_view> table = {
        "com.apple.Terminal",
        "com.googlecode.iterm2",
        "dev.warp.Warp-Stable",
        "dev.warp.Warp",
        "com.mitchellh.ghostty",
        "co.zeit.hyper",
        "com.github.wez.wezterm",
        "io.alacritty",
        "net.kovidgoyal.kitty",
        "com.tabby",
        "com.microsoft.VSCode",
        "com.microsoft.VSCodeInsiders",
        "com.todesktop.230313mzl4w4u92",
        "com.exafunction.windsurf",
        "com.jetbrains.intellij",
        "com.jetbrains.pycharm",
        "com.jetbrains.WebStorm",
        "com.jetbrains.goland",
        "com.jetbrains.CLion",
        "com.jetbrains.rider",
        "com.jetbrains.fleet",
        "com.sublimetext.4",
        "com.sublimetext.3",
        "dev.zed.Zed",
        "dev.zed.Zed-Preview",
    };
    return table;
}

const std::vector<std::string_view>& TrustedTerminals::linuxTerminalClasses() {
    static const std::vector<std::string_view> table = {
        "gnome-terminal",
        "gnome-terminal-server",
        "konsole",
        "xterm",
        "uxterm",
        "kitty",
        "alacritty",
        "org.wezfurlong.wezterm",
        "wezterm",
        "foot",
        "footclient",
        "tilix",
        "terminator",
        "xfce4-terminal",
        "ghostty",
        "com.mitchellh.ghostty",
        "mate-terminal",
        "lxterminal",
        "qterminal",
        "terminology",
        "urxvt",
        "st-256color",
        "kgx",
        "org.gnome.console",
        "org.gnome.ptyxis",
        "tabby",
        "hyper",
        "warp",
        "dev.warp.warp",
        "code",
        "code-oss",
        "vscodium",
        "cursor",
        "windsurf",
        "zed",
        "dev.zed.zed",
        "sublime_text",
    };
    return table;
}

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

} // namespace

bool TrustedTerminals::isTrusted(std::string_view identifier) {
    if (identifier.empty()) {
        return false;
    }
    const auto& mac = knownTerminalIdentifiers();
    if (std::find(mac.begin(), mac.end(), identifier) != mac.end() ||
        identifier.starts_with("com.todesktop.")) {
        return true;
    }
    const std::string lower = lowered(identifier);
    const auto& classes = linuxTerminalClasses();
    return std::find(classes.begin(), classes.end(), lower) != classes.end() ||
           lower.starts_with("jetbrains-");
}

} // namespace perchwell
