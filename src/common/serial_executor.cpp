#include "common/serial_executor.h"

#include <pthread.h>

namespace perchwell {

SerialExecutor::SerialExecutor(std::string name) {
    thread_ = std::thread([this, name = std::move(name)] {
        ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
        loop();
    });
    threadId_ = thread_.get_id();
}

SerialExecutor::~SerialExecutor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool SerialExecutor::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !isCurrent()) {
            return false;
        }
        queue_.push_back(std::move(task));
    }
    wake_.notify_one();
    return true;
}

void SerialExecutor::loop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return; // stopping and drained
            }
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            task();
        } catch (...) {
            // A failing task must not take the executor (and every later task) down.
        }
    }
}

} // namespace perchwell
