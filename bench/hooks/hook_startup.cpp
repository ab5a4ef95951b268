// Whole-process latency of `perchwell hook` against the floor, a C program that reads
// its standard input and prints one line, both fed the same input through a pipe:
// a 1 KB Bash event and a 1 MiB Write event.
//
//   bench_hook_startup [runs]      (default 300)
#include "hook_inputs.h"
#include "spawn_timer.h"

#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
    using namespace perchwell::bench;
    const int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const std::string home = makeBenchHome();
    const std::string bin = PERCHWELL_BIN_DIR;
    const std::vector<Variant> variants = {
        {"C no-op, dynamic (floor)", {bin + "/bench_noop"}, {}},
        {"perchwell hook", {bin + "/perchwell", "hook"}, {}},
    };
    int failures = compareInterleaved("perchwell hook, 1 KB Bash event", variants, bashEvent(), runs);
    failures += compareInterleaved("perchwell hook, 1 MiB Write event", variants, writeEvent(), runs);
    std::filesystem::remove_all(home);
    return failures == 0 ? 0 : 1;
}
