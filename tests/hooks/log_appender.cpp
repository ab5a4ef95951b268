// Appends many hook-log lines from one process, for the concurrent-append test.
#include "hooks/hook_command.h"

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        return 2;
    }
    const std::string id = argv[1];
    const int count = std::atoi(argv[2]);
    const std::string padding(static_cast<size_t>(std::atoi(argv[3])), 'p');
    for (int i = 0; i < count; ++i) {
        perchwell::HookCommand::appendLog("Tool", "ack", id + "-" + std::to_string(i) + "-" + padding,
                                          "evt:stop");
    }
    return 0;
}
