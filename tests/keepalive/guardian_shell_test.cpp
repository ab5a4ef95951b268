#include "keepalive/guardian_shell.h"
#include "support/process.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::runProcess;

// Undoes the AppleScript string escapes of administratorScript().
std::string appleScriptLiteral(const std::string& script) {
    const std::string head = "do shell script \"";
    const std::string tail = "\" with administrator privileges";
    EXPECT_EQ(script.rfind(head, 0), 0u);
    EXPECT_EQ(script.substr(script.size() - tail.size()), tail);
    std::string text;
    for (size_t i = head.size(); i < script.size() - tail.size(); ++i) {
        if (script[i] == '\\') {
            ++i;
        }
        text += script[i];
    }
    return text;
}

TEST(GuardianShellTest, TheMacCommandIsExact) {
    const std::string expected =
        "previous=$(/usr/bin/pmset -g custom | /usr/bin/awk '/disablesleep/{value=$2} END{if (value == \"\") "
        "print \"0\"; else print value}'); case \"$previous\" in 0|1) ;; *) previous=0;; esac; "
        "/usr/bin/pmset -a "
        "disablesleep 1 && /bin/sh -c 'until_file='\\''/Users/a/Library/Application Support/Perchwell/"
        "closedlid-until'\\''\n"
        "restore_value=$1\n"
        "case \"$restore_value\" in 0|1) ;; *) restore_value=0;; esac\n"
        "while :; do\n"
        "  now=$(/bin/date +%s)\n"
        "  raw=$(/bin/cat \"$until_file\" 2>/dev/null || echo 0)\n"
        "  case \"$raw\" in \"\"|*[!0-9]*) raw=0;; esac\n"
        "  if [ \"$raw\" -gt \"$now\" ]; then\n"
        "    /usr/bin/pmset -a disablesleep 1 >/dev/null 2>&1\n"
        "    /bin/sleep 5\n"
        "  else\n"
        "    /usr/bin/pmset -a disablesleep \"$restore_value\" >/dev/null 2>&1\n"
        "    /bin/rm -f \"$until_file\"\n"
        "    exit 0\n"
        "  fi\n"
        "done' pv-closedlid \"$previous\" >/dev/null 2>&1 &";
    EXPECT_EQ(guardianShell("/Users/a/Library/Application Support/Perchwell/closedlid-until"), expected);
    EXPECT_EQ(administratorScript("a \"b\" \\c\nd"),
              "do shell script \"a \\\"b\\\" \\\\c\nd\" with administrator privileges");
}

TEST(GuardianShellTest, AnAwkwardPathSurvivesBothQuotingLayers) {
    for (const std::string path : {"/Users/o'brien/it's \"here\"/closedlid-until", "/tmp/a\\b $(x) `y`/''"}) {
        SCOPED_TRACE(path);
        const std::string command = appleScriptLiteral(administratorScript(guardianShell(path)));
        EXPECT_EQ(command, guardianShell(path));
        // The administrator shell hands the guardian its text as one argument; the
        // guardian's first line then sets until_file to the path itself.
        const auto from = command.find("/bin/sh -c ") + 11;
        const auto to = command.rfind(" pv-closedlid ");
        const auto guardian = runProcess({"/bin/sh", "-c", "printf %s " + command.substr(from, to - from)});
        ASSERT_EQ(guardian.exitCode, 0) << guardian.err;
        const std::string firstLine = guardian.out.substr(0, guardian.out.find("\nrestore_value=$1\n"));
        const auto value = runProcess({"/bin/sh", "-c", firstLine + "\nprintf %s \"$until_file\""});
        EXPECT_EQ(value.out, path);
        // The Linux loop quotes the same way.
        const std::string loop = lidGuardianLoop(path);
        const auto linux =
            runProcess({"/bin/sh", "-c", loop.substr(0, loop.find('\n')) + "\nprintf %s \"$until_file\""});
        EXPECT_EQ(linux.out, path);
    }
}

} // namespace
} // namespace perchwell
