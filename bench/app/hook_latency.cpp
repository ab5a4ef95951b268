// Round-trip latency of one hook event, 1 KB of input: pv-hook-client through the
// running application's socket, against `perchwell hook` deciding alone, and the
// installed hook command line (sh + client) and a do-nothing program for reference.
//
//   bench_hook_latency [iterations]      (default 300)
//
// Starts `perchwell --headless` in a temporary HOME, so nothing touches the real one.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
const std::string binDir = PERCHWELL_BIN_DIR;

// Runs `argv` with `input` on stdin and stdout discarded; the wall time in microseconds.
double runOnce(const std::vector<std::string>& argv, const std::string& input, int& status) {
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    // 1 KB fits the pipe buffer: one write, then end of input.
    [[maybe_unused]] const ssize_t n = ::write(in[1], input.data(), input.size());
    ::close(in[1]);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    const auto elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return elapsed;
}

struct Stats {
    double median, p99, mean, min;
};

Stats summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[std::min(samples.size() - 1,
                                static_cast<size_t>(q * static_cast<double>(samples.size())))];
    };
    double sum = 0;
    for (const double s : samples) {
        sum += s;
    }
    return {at(0.5), at(0.99), sum / static_cast<double>(samples.size()), samples.front()};
}

} // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    char tmpl[] = "/tmp/pw-bench.XXXXXX";
    const std::string home = ::mkdtemp(tmpl);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    ::unsetenv("CLAUDE_CONFIG_DIR");
    const std::string socket = home + "/.local/share/perchwell/hook.sock";

    pid_t app = -1;
    std::vector<std::string> appArgs{binDir + "/perchwell", "--headless"};
    std::vector<char*> cargs;
    for (auto& a : appArgs) {
        cargs.push_back(a.data());
    }
    cargs.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&app, cargs[0], &quiet, nullptr, cargs.data(), environ) != 0) {
        std::perror("perchwell --headless");
        return 1;
    }
    for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!std::filesystem::exists(socket)) {
        std::fprintf(stderr, "the application did not open %s\n", socket.c_str());
        ::kill(app, SIGKILL);
        return 1;
    }

    // A PreToolUse event of exactly 1024 bytes that passes every rule ("allow").
    const std::string head =
        R"({"hook_event_name":"PreToolUse","session_id":"0f1e2d3c-aaaa-bbbb-cccc-000000000001",)"
        R"("cwd":"/home/u/proj","tool_name":"Bash","tool_input":{"command":"ls )";
    const std::string tail = R"("}})";
    const std::string input = head + std::string(1024 - head.size() - tail.size(), 'a') + tail;

    const std::string command = "T=$(mktemp); cat > \"$T\"; \"" + binDir +
                                "/pv-hook-client\" < \"$T\" || \"" + binDir +
                                "/perchwell\" hook < \"$T\"; r=$?; rm -f \"$T\"; exit $r";
    const struct {
        const char* name;
        std::vector<std::string> argv;
    } variants[] = {
        {"pv-hook-client (socket)", {binDir + "/pv-hook-client"}},
        {"perchwell hook (alone)", {binDir + "/perchwell", "hook"}},
        {"installed command (sh)", {"/bin/sh", "-c", command}},
        {"spawn baseline (noop)", {binDir + "/bench_noop"}},
    };
    std::vector<std::vector<double>> samples(std::size(variants));
    int failures = 0;
    // Interleaved, so drift in machine load hits every variant alike; the first
    // rounds warm the caches and are dropped.
    for (int round = -20; round < iterations; ++round) {
        for (size_t v = 0; v < std::size(variants); ++v) {
            int status = 0;
            const double us = runOnce(variants[v].argv, input, status);
            failures += status != 0;
            if (round >= 0) {
                samples[v].push_back(us);
            }
        }
    }
    ::kill(app, SIGTERM);
    ::waitpid(app, nullptr, 0);
    std::filesystem::remove_all(home);

    std::printf("hook round trip, %zu-byte input, %d runs each (microseconds)\n", input.size(), iterations);
    std::printf("%-26s %10s %10s %10s %10s\n", "", "median", "p99", "mean", "min");
    for (size_t v = 0; v < std::size(variants); ++v) {
        const Stats s = summarise(samples[v]);
        std::printf("%-26s %10.0f %10.0f %10.0f %10.0f\n", variants[v].name, s.median, s.p99, s.mean, s.min);
    }
    if (failures != 0) {
        std::printf("non-zero exits: %d\n", failures);
        return 1;
    }
    return 0;
}
