#include "keepalive/guardian_shell.h"

#include <array>

namespace perchwell {

namespace {

constexpr std::string_view armingPrefix =
    "previous=$(/usr/bin/pmset -g custom | /usr/bin/awk '/disablesleep/{value=$2} END{if (value == \"\") "
    "print "
    "\"0\"; else print value}'); case \"$previous\" in 0|1) ;; *) previous=0;; esac; /usr/bin/pmset -a "
    "disablesleep 1 && /bin/sh -c ";

constexpr std::array<std::string_view, 15> macGuardianBody = {
    "restore_value=$1",
    "case \"$restore_value\" in 0|1) ;; *) restore_value=0;; esac",
    "while :; do",
    "  now=$(/bin/date +%s)",
    "  raw=$(/bin/cat \"$until_file\" 2>/dev/null || echo 0)",
    "  case \"$raw\" in \"\"|*[!0-9]*) raw=0;; esac",
    "  if [ \"$raw\" -gt \"$now\" ]; then",
    "    /usr/bin/pmset -a disablesleep 1 >/dev/null 2>&1",
    "    /bin/sleep 5",
    "  else",
    "    /usr/bin/pmset -a disablesleep \"$restore_value\" >/dev/null 2>&1",
    "    /bin/rm -f \"$until_file\"",
    "    exit 0",
    "  fi",
    "done",
};

} // namespace

std::string shellQuote(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string guardianShell(std::string_view deadlinePath) {
    std::string guardian = "until_file=" + shellQuote(deadlinePath);
    for (std::string_view line : macGuardianBody) {
        guardian += '\n';
        guardian += line;
    }
    return std::string(armingPrefix) + shellQuote(guardian) + " pv-closedlid \"$previous\" >/dev/null 2>&1 &";
}

std::string administratorScript(std::string_view command) {
    std::string script = "do shell script \"";
    for (char c : command) {
        if (c == '\\' || c == '"') {
            script += '\\';
        }
        script += c;
    }
    script += "\" with administrator privileges";
    return script;
}

std::string lidGuardianLoop(std::string_view deadlinePath, int intervalSeconds) {
    // Its output goes nowhere once armed: the application may be gone long before it ends.
    return "until_file=" + shellQuote(deadlinePath) + "\nprintf '" + std::string(lidGuardianArmedLine) +
           "\\n'\n"
           "exec >/dev/null 2>&1\n"
           "while :; do\n"
           "  now=$(/bin/date +%s)\n"
           "  raw=$(/bin/cat \"$until_file\" 2>/dev/null || echo 0)\n"
           "  case \"$raw\" in \"\"|*[!0-9]*) raw=0;; esac\n"
           "  if [ \"$raw\" -gt \"$now\" ] 2>/dev/null; then\n"
           "    /bin/sleep " +
           std::to_string(intervalSeconds) +
           "\n"
           "  else\n"
           "    /bin/rm -f \"$until_file\"\n"
           "    exit 0\n"
           "  fi\n"
           "done\n";
}

} // namespace perchwell
