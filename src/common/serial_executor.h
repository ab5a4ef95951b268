#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

namespace perchwell {

// One thread working through one FIFO queue: the executor a long-lived component
// serialises its operations on. Results come back as a std::future, or through a
// callback that runs on the executor thread. Destruction stops accepting work, runs
// what is already queued and joins the thread.
class SerialExecutor {
public:
    // `name` is the thread's name as shown by ps/top (cut to 15 bytes).
    explicit SerialExecutor(std::string name = "pw-serial");
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    // Queues `task`; the future carries its result or its exception. Once the executor
    // is shutting down, the task is dropped and the future reports a broken promise.
    template <typename F> auto submit(F&& task) -> std::future<std::invoke_result_t<std::decay_t<F>&>> {
        using R = std::invoke_result_t<std::decay_t<F>&>;
        auto packaged = std::make_shared<std::packaged_task<R()>>(std::forward<F>(task));
        auto future = packaged->get_future();
        post([packaged] { (*packaged)(); });
        return future;
    }

    // Queues `task` and hands its result to `done`, both on the executor thread.
    template <typename F, typename Done> void submit(F&& task, Done&& done) {
        post([task = std::forward<F>(task), done = std::forward<Done>(done)]() mutable {
            if constexpr (std::is_void_v<std::invoke_result_t<std::decay_t<F>&>>) {
                task();
                done();
            } else {
                done(task());
            }
        });
    }

    // Like submit(task), but runs `task` at once when called from the executor's own
    // thread: a component may call its own blocking API from inside a task without
    // waiting on itself.
    template <typename F> auto run(F&& task) -> std::future<std::invoke_result_t<std::decay_t<F>&>> {
        if (isCurrent()) {
            using R = std::invoke_result_t<std::decay_t<F>&>;
            std::packaged_task<R()> packaged(std::forward<F>(task));
            auto future = packaged.get_future();
            packaged();
            return future;
        }
        return submit(std::forward<F>(task));
    }

    // Fire and forget. An exception escaping `task` is swallowed so the queue goes on.
    // Returns false when the executor no longer accepts work.
    bool post(std::function<void()> task);

    // True on the executor's own thread.
    bool isCurrent() const { return std::this_thread::get_id() == threadId_; }

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread::id threadId_;
    std::thread thread_;
};

} // namespace perchwell
