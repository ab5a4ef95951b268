#pragma once

#include <string>
#include <vector>

namespace perchwell::bench {

// One program to time: its argv and extra environment ("NAME=value").
struct Variant {
    std::string name;
    std::vector<std::string> argv;
    std::vector<std::string> env;
};

struct Stats {
    double median, p99, mean, min; // microseconds
};

// Wall time of one run in microseconds, from spawn to exit: `input` goes in through a
// pipe (as Claude Code gives it), output is discarded. `status` gets the exit status.
double runOnce(const Variant& variant, const std::string& input, int& status);

Stats summarise(std::vector<double> samples);

// Runs every variant `rounds` times, interleaved so drift in machine load hits all
// alike (after 20 dropped warm-up rounds), and prints one row per variant with its
// median's ratio to the first variant's. Returns the number of non-zero exits.
int compareInterleaved(const std::string& title, const std::vector<Variant>& variants,
                       const std::string& input, int rounds);

// A temporary HOME with the XDG directories inside it, for the processes we start.
std::string makeBenchHome();

} // namespace perchwell::bench
