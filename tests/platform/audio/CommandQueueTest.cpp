#include "platform/audio/CommandQueue.h"
#include "tests/platform/audio/ManualClock.h"
#include "tests/support/Poll.h"

#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using audio::CommandQueue;

namespace {

constexpr auto kLimit = std::chrono::seconds(3);

// This thread is the worker: a command runs only when the test lets the worker come back.
TEST(CommandQueueTest, ACommandNotTakenUpInTimeNeverRunsAndOthersFailAtOnceUntilTheWorkerIsBack) {
    const auto clock = std::make_shared<ManualClock>();
    CommandQueue queue(clock);
    std::vector<std::string> ran;
    const auto command = [&](const char* name) { return [&ran, name] { ran.push_back(name); }; };
    const auto workUntilAnswered = [&](std::future<bool>& answer) {
        return eventually([&] {
            queue.runQueued();
            return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
    };

    auto first =
        std::async(std::launch::async, [&] { return queue.call(command("first"), kLimit); });
    ASSERT_TRUE(eventually([&] { return clock->waiters() == 1; }));
    clock->advance(kLimit);
    EXPECT_FALSE(first.get());
    EXPECT_TRUE(queue.stalled());
    EXPECT_FALSE(queue.call(command("second"), kLimit)); // at once: the clock stands still

    // A wait without a limit is not failed; the worker coming back lifts the stall.
    auto unbounded =
        std::async(std::launch::async, [&] { return queue.call(command("unbounded"), {}); });
    ASSERT_TRUE(workUntilAnswered(unbounded));
    EXPECT_TRUE(unbounded.get());
    EXPECT_FALSE(queue.stalled());
    auto third =
        std::async(std::launch::async, [&] { return queue.call(command("third"), kLimit); });
    ASSERT_TRUE(workUntilAnswered(third));
    EXPECT_TRUE(third.get());
    EXPECT_EQ(ran, (std::vector<std::string>{"unbounded", "third"}));
}

TEST(CommandQueueTest, ACommandTakenUpInTimeIsWaitedForPastTheLimit) {
    const auto clock = std::make_shared<ManualClock>();
    CommandQueue queue(clock);
    std::thread worker([&] {
        queue.waitForCommand();
        queue.runQueued();
    });
    std::promise<void> started;
    std::promise<void> release;
    auto answered = std::async(std::launch::async, [&] {
        return queue.call(
            [&] {
                started.set_value();
                release.get_future().wait();
            },
            kLimit);
    });
    started.get_future().wait();
    clock->advance(2 * kLimit);
    ASSERT_TRUE(eventually([&] { return clock->waiters() == 0; })); // past its limit
    EXPECT_EQ(answered.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    release.set_value();
    EXPECT_TRUE(answered.get());
    worker.join();
    EXPECT_FALSE(queue.stalled());
}

TEST(CommandQueueTest, EachCommandInterruptsTheWorkerThroughTheLatestInterruptOnly) {
    CommandQueue queue;
    std::vector<int> interrupted;
    for (const int interrupt : {1, 2, 0}) { // 0: none
        std::function<void()> mark;
        if (interrupt)
            mark = [&interrupted, interrupt] { interrupted.push_back(interrupt); };
        queue.setInterrupt(mark);
        queue.post([] {});
    }
    EXPECT_EQ(interrupted, (std::vector<int>{1, 2}));
}

} // namespace
