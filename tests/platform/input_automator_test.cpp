#include "platform/linux/ime_guard.h"
#include "platform/trusted_terminals.h"
#include "support/fake_command_runner.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::FakeCommandRunner;

TEST(TrustedTerminalsTest, KnowsTheTerminalsAndEditorsOfBothPlatforms) {
    EXPECT_EQ(TrustedTerminals::knownTerminalIdentifiers().size(), 25u);
    const std::pair<const char*, bool> cases[] = {
        {"com.apple.Terminal", true},
        {"com.apple.terminal", false}, // bundle identifiers are exact
        {"dev.zed.Zed-Preview", true},
        {"com.todesktop.anything", true},
        {"XTerm", true},
        {"Gnome-terminal", true},
        {"org.wezfurlong.wezterm", true},
        {"Code", true},
        {"jetbrains-idea", true},
        {"jetbrains-pycharm-ce", true},
        {"Sublime_text", true},
        {"Firefox", false},
        {"Xfce4-panel", false},
        {"", false},
    };
    for (const auto& [identifier, trusted] : cases) {
        EXPECT_EQ(TrustedTerminals::isTrusted(identifier), trusted) << identifier;
    }
}

struct ImeCase {
    const char* what;
    std::map<std::string, CommandOutput> answers;
    std::optional<InputSourceSnapshot> snapshot;
    std::vector<std::string> switchCalls; // the selecting calls made, in order
    std::string logged;
};

TEST(ImeGuardTest, SwitchesOnlyWhenAnInputMethodEngineIsActive) {
    const std::string preload = "gsettings get org.freedesktop.ibus.general preload-engines";
    const ImeCase cases[] = {
        {"no input method framework: nothing to do", {}, std::nullopt, {}, ""},
        {"IBus on a plain layout", {{"ibus engine", {0, "xkb:de::ger\n"}}}, std::nullopt, {}, ""},
        {"IBus with an engine and US enabled",
         {{"ibus engine", {0, "anthy\n"}},
          {preload, {0, "['xkb:de::ger', 'xkb:us::eng', 'anthy']\n"}},
          {"ibus engine xkb:us::eng", {0, ""}}},
         InputSourceSnapshot{"ibus", "anthy"},
         {"ibus engine xkb:us::eng"},
         "IME guard: switched anthy → ASCII for keystroke"},
        {"IBus without US takes the first enabled layout",
         {{"ibus engine", {0, "pinyin\n"}},
          {preload, {0, "['pinyin', 'xkb:gb:extd:eng']\n"}},
          {"ibus engine xkb:gb:extd:eng", {0, ""}}},
         InputSourceSnapshot{"ibus", "pinyin"},
         {"ibus engine xkb:gb:extd:eng"},
         "IME guard: switched pinyin → ASCII for keystroke"},
        {"IBus with no layout enabled",
         {{"ibus engine", {0, "hangul\n"}}, {preload, {0, "['hangul']\n"}}},
         std::nullopt,
         {},
         "IME guard: no ASCII keyboard layout installed; cannot defeat hangul"},
        {"IBus refusing the switch",
         {{"ibus engine", {0, "anthy\n"}},
          {preload, {0, "['xkb:us::eng']"}},
          {"ibus engine xkb:us::eng", {1, ""}}},
         std::nullopt,
         {"ibus engine xkb:us::eng"},
         "IME guard: select ASCII layout failed status=1"},
        {"Fcitx5 inactive types its layout", {{"fcitx5-remote", {0, "1\n"}}}, std::nullopt, {}, ""},
        {"Fcitx5 active on a keyboard layout",
         {{"fcitx5-remote", {0, "2\n"}}, {"fcitx5-remote -n", {0, "keyboard-us\n"}}},
         std::nullopt,
         {},
         ""},
        {"Fcitx5 active with Mozc",
         {{"fcitx5-remote", {0, "2\n"}}, {"fcitx5-remote -n", {0, "mozc\n"}}, {"fcitx5-remote -c", {0, ""}}},
         InputSourceSnapshot{"fcitx5", "mozc"},
         {"fcitx5-remote -c"},
         "IME guard: switched mozc → ASCII for keystroke"},
    };
    for (const ImeCase& c : cases) {
        FakeCommandRunner runner;
        runner.answers = c.answers;
        testing::LogCapture logs;
        AppLogger log("input");
        ImeGuard guard(runner, log);
        const auto snapshot = guard.switchToASCIILayout();
        ASSERT_EQ(snapshot.has_value(), c.snapshot.has_value()) << c.what;
        if (snapshot) {
            EXPECT_EQ(snapshot->framework, c.snapshot->framework) << c.what;
            EXPECT_EQ(snapshot->id, c.snapshot->id) << c.what;
        }
        std::vector<std::string> switches;
        for (const auto& call : runner.calls) {
            if (call.starts_with("ibus engine ") || call == "fcitx5-remote -c") {
                switches.push_back(call);
            }
        }
        EXPECT_EQ(switches, c.switchCalls) << c.what;
        const auto messages = logs.messages("input");
        EXPECT_EQ(messages.empty() ? "" : messages.back(), c.logged) << c.what;
    }
}

TEST(ImeGuardTest, RestoresTheEngineItSwitchedAwayFrom) {
    FakeCommandRunner runner;
    runner.answers["ibus engine anthy"] = {0, ""};
    testing::LogCapture logs;
    AppLogger log("input");
    ImeGuard guard(runner, log);
    guard.restoreInputSource(std::nullopt);
    EXPECT_TRUE(runner.calls.empty());
    guard.restoreInputSource(InputSourceSnapshot{"ibus", "anthy"});
    guard.restoreInputSource(InputSourceSnapshot{"fcitx5", "mozc"});
    EXPECT_EQ(runner.calls, (std::vector<std::string>{"ibus engine anthy", "fcitx5-remote -s mozc"}));
    EXPECT_EQ(logs.messages("input").back(),
              "IME guard: restore mozc failed status=fcitx5-remote: No such file or directory");
}

} // namespace
} // namespace perchwell
