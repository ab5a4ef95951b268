// Per-request latency of the hook socket (connect, send a 1 KB event, read the answer)
// with no other connections, and with 64 connections open that never send anything,
// for requests one after another and for a burst of 50 at once. The server runs in
// this process, in a temporary HOME.
//
//   bench_socket_load [rounds]      (default 20; 50 requests per round)
#include "common/unix_socket.h"
#include "hook_inputs.h"
#include "hooks/hook_socket_server.h"
#include "spawn_timer.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace perchwell;
using Clock = std::chrono::steady_clock;

namespace {

int connectTo(const std::string& path) {
    return connectUnixSocket(path).release();
}

// One request; its latency in microseconds, or a negative value when unanswered.
double request(const std::string& path, const std::string& payload) {
    const auto start = Clock::now();
    const int fd = connectTo(path);
    if (fd < 0) {
        return -1;
    }
    const uint32_t length = htonl(static_cast<uint32_t>(payload.size()));
    std::string frame(reinterpret_cast<const char*>(&length), 4);
    frame += payload;
    bool ok = ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
    std::string answer;
    char buffer[4096];
    for (ssize_t n; ok && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    ok = ok && answer.size() > 4;
    return ok ? std::chrono::duration<double, std::micro>(Clock::now() - start).count() : -1;
}

void report(const char* name, const std::vector<double>& samples, int unanswered) {
    const bench::Stats s = bench::summarise(samples);
    const double max = *std::max_element(samples.begin(), samples.end());
    std::printf("| %-44s | %7zu | %8.0f | %8.0f | %8.0f | %10d |\n", name, samples.size(), s.median, s.p99,
                max, unanswered);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    constexpr int perRound = 50;
    const std::string home = bench::makeBenchHome();
    // The silent connections end with a warning each; not wanted in the table.
    AppLogger::setSink([](const AppLogger::Record&) {});
    HookSocketServer server; // the application's settings: 4 workers, 3 s per connection
    if (!server.start()) {
        return 1;
    }
    const std::string path = server.socketPath();
    const std::string payload = bench::bashEvent();

    std::printf("hook socket, %zu-byte request, %d requests per case (microseconds)\n", payload.size(),
                rounds * perRound);
    std::printf("| %-44s | %7s | %8s | %8s | %8s | %10s |\n", "case", "answers", "median", "p99", "max",
                "unanswered");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(9, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str(), std::string(10, '-').c_str(),
                std::string(12, '-').c_str());
    const auto sequential = [&](const char* name) {
        std::vector<double> samples;
        int unanswered = 0;
        for (int i = 0; i < rounds * perRound; ++i) {
            const double us = request(path, payload);
            us < 0 ? ++unanswered : (samples.push_back(us), 0);
        }
        report(name, samples, unanswered);
    };
    const auto burst = [&](const char* name) {
        std::vector<double> samples;
        int unanswered = 0;
        for (int round = 0; round < rounds; ++round) {
            std::vector<double> latencies(perRound);
            std::vector<std::thread> threads;
            for (int i = 0; i < perRound; ++i) {
                threads.emplace_back([&, i] { latencies[i] = request(path, payload); });
            }
            for (auto& t : threads) {
                t.join();
            }
            for (const double us : latencies) {
                us < 0 ? ++unanswered : (samples.push_back(us), 0);
            }
        }
        report(name, samples, unanswered);
    };

    sequential("no other connections, one at a time");
    burst("no other connections, 50 at once");
    // Fresh ones for each case: the server drops a silent connection after 3 s.
    const auto withIdle = [&](const std::function<void()>& run) {
        std::vector<int> idle;
        for (int i = 0; i < 64; ++i) {
            idle.push_back(connectTo(path));
        }
        run();
        for (const int fd : idle) {
            ::close(fd);
        }
    };
    withIdle([&] { sequential("64 idle connections open, one at a time"); });
    withIdle([&] { burst("64 idle connections open, 50 at once"); });
    server.stop();
    std::filesystem::remove_all(home);
    return 0;
}
