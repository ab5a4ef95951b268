#pragma once

#include <string>
#include <string_view>

namespace perchwell {

// The closed-lid guardian's shell texts. Pure functions: the macOS texts are kept
// exactly as that backend runs them, the Linux loop is what runs here.

// `text` in single quotes for a POSIX shell; an apostrophe becomes '\''.
std::string shellQuote(std::string_view text);

// The administrator command of the macOS guardian: remember `disablesleep`, switch it
// on, and leave the deadline loop "pv-closedlid" running in the background.
std::string guardianShell(std::string_view deadlinePath);

// `command` as an AppleScript "do shell script" run with administrator privileges.
std::string administratorScript(std::string_view command);

// The Linux guardian, run as `sh -c <loop> pv-closedlid` under a lid-switch inhibitor:
// says "armed" on its standard output once running, then checks the deadline every
// `intervalSeconds` and, once it is not in the future (passed, cleared, missing or
// garbled), removes the file and exits, which releases the inhibitor.
std::string lidGuardianLoop(std::string_view deadlinePath, int intervalSeconds = 5);

// What the Linux guardian prints once its inhibitor is held.
inline constexpr std::string_view lidGuardianArmedLine = "armed";

} // namespace perchwell
