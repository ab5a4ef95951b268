#include "spawn_timer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace perchwell::bench {

double runOnce(const Variant& variant, const std::string& input, int& status) {
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
    for (const auto& a : variant.argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<std::string> envStrings(variant.env);
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e); // later duplicates lose: ours come first
    }
    std::vector<char*> env;
    for (auto& e : envStrings) {
        env.push_back(e.data());
    }
    env.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    // Input larger than the pipe goes in as the child reads it.
    size_t written = 0;
    while (written < input.size()) {
        const ssize_t n = ::write(in[1], input.data() + written, input.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break; // the child stopped reading
        }
        written += static_cast<size_t>(n);
    }
    ::close(in[1]);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    const auto elapsed =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return elapsed;
}

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

int compareInterleaved(const std::string& title, const std::vector<Variant>& variants,
                       const std::string& input, int rounds) {
    // A program that stops reading early must not end the benchmark.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::vector<double>> samples(variants.size());
    int failures = 0;
    for (int round = -20; round < rounds; ++round) {
        for (size_t v = 0; v < variants.size(); ++v) {
            int status = 0;
            const double us = runOnce(variants[v], input, status);
            failures += status != 0;
            if (round >= 0) {
                samples[v].push_back(us);
            }
        }
    }
    std::printf("\n%s: %zu-byte input, %d runs each, interleaved (microseconds)\n", title.c_str(),
                input.size(), rounds);
    std::printf("| %-40s | %8s | %8s | %8s | %8s | %6s |\n", "program", "median", "p99", "mean", "min",
                "ratio");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(42, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str(), std::string(10, '-').c_str(),
                std::string(8, '-').c_str());
    const double base = summarise(samples[0]).median;
    for (size_t v = 0; v < variants.size(); ++v) {
        const Stats s = summarise(samples[v]);
        std::printf("| %-40s | %8.0f | %8.0f | %8.0f | %8.0f | %5.2fx |\n", variants[v].name.c_str(),
                    s.median, s.p99, s.mean, s.min, s.median / base);
    }
    if (failures != 0) {
        std::printf("non-zero exits: %d\n", failures);
    }
    return failures;
}

std::string makeBenchHome() {
    char tmpl[] = "/tmp/pw-bench.XXXXXX";
    const std::string home = ::mkdtemp(tmpl);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    ::unsetenv("CLAUDE_CONFIG_DIR");
    return home;
}

} // namespace perchwell::bench
