#include "common/serial_executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

namespace perchwell {
namespace {

TEST(SerialExecutorTest, RunsTasksInOrderOnOneThread) {
    SerialExecutor executor("test");
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::vector<std::future<void>> done;
    for (int i = 0; i < 50; ++i) {
        done.push_back(executor.submit([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        }));
    }
    done.back().get();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(threads[i], threads[0]);
    }
    EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST(SerialExecutorTest, ResultsExceptionsAndCallbacks) {
    SerialExecutor executor;
    EXPECT_EQ(executor.submit([] { return 41 + 1; }).get(), 42);
    auto failing = executor.submit([]() -> int { throw std::runtime_error("boom"); });
    EXPECT_THROW(failing.get(), std::runtime_error);

    std::promise<std::pair<int, bool>> seen;
    executor.submit([] { return 7; }, [&](int v) { seen.set_value({v, true}); });
    EXPECT_EQ(seen.get_future().get(), std::make_pair(7, true));

    // A task that throws through post() does not stop the queue.
    executor.post([] { throw std::runtime_error("ignored"); });
    EXPECT_EQ(executor.submit([] { return 1; }).get(), 1);
}

TEST(SerialExecutorTest, RunFromInsideDoesNotDeadlock) {
    SerialExecutor executor;
    auto outer = executor.submit([&] {
        EXPECT_TRUE(executor.isCurrent());
        return executor.run([] { return 5; }).get();
    });
    EXPECT_EQ(outer.get(), 5);
    EXPECT_FALSE(executor.isCurrent());
}

TEST(SerialExecutorTest, DestructionRunsQueuedWork) {
    std::atomic<int> ran{0};
    {
        SerialExecutor executor;
        executor.post([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
        for (int i = 0; i < 10; ++i) {
            executor.post([&] { ++ran; });
        }
    }
    EXPECT_EQ(ran.load(), 10);
}

} // namespace
} // namespace perchwell
