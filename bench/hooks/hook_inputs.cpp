#include "hook_inputs.h"

#include <random>

namespace perchwell::bench {
namespace {

const std::string head =
    R"({"session_id":"5f0c2a4e-7d1b-4c8e-9a3f-2b6d8e1f0a77",)"
    R"("transcript_path":"/home/u/.claude/projects/x.jsonl","cwd":"/home/u/work/project",)"
    R"("permission_mode":"default","hook_event_name":"PreToolUse",)";

} // namespace

std::string bashEvent(size_t size) {
    const std::string start = head + R"("tool_name":"Bash","tool_input":{"command":"ls )";
    const std::string end = R"("}})";
    return start + std::string(size - start.size() - end.size(), 'a') + end;
}

std::string writeEvent(size_t contentBytes) {
    static const char* const words[] = {"build", "src", "tests", "make", "grep", "-rn", "TODO",
                                        "cargo", "npm", "run",   "lint", "&&",   "|",   "sed"};
    std::mt19937 random(42);
    std::string content;
    while (content.size() < contentBytes) {
        for (int w = 0; w < 12; ++w) {
            content += words[random() % std::size(words)];
            content += w < 11 ? " " : "\\n";
        }
    }
    return head +
           R"("tool_name":"Write","tool_input":{"file_path":"/home/u/work/project/src/generated.txt",)" +
           R"("content":")" + content + R"("}})";
}

} // namespace perchwell::bench
