#include "render/Counter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace Raytracer {
namespace {

TEST(Counter, WaitTakesOneUnitAndNeverGoesBelowZero) {
    Counter counter(3);
    waitCounter(counter);
    EXPECT_EQ(2, counter.load());
    signalCounter(counter);
    waitCounter(counter);
    waitCounter(counter);
    waitCounter(counter);
    EXPECT_EQ(0, counter.load());
}

TEST(Counter, BlockedWaiterWakesOnSignal) {
    Counter counter(0);
    Counter finished(0);
    std::thread waiter([&] {
        waitCounter(counter);
        signalCounter(finished);
    });
    signalCounter(counter);
    waitCounter(finished);
    waiter.join();
    EXPECT_EQ(0, counter.load());
}

// Many threads taking units from one counter: every signal is consumed exactly once, whatever the
// interleaving.
TEST(Counter, ManyWaitersConsumeEverySignalOnce) {
    constexpr int threads = 8;
    constexpr int unitsPerThread = 5000;
    Counter counter(0);
    Counter taken(0);
    std::vector<std::thread> waiters;
    for (int t = 0; t < threads; ++t) {
        waiters.emplace_back([&] {
            for (int i = 0; i < unitsPerThread; ++i) {
                waitCounter(counter);
                taken.fetch_add(1);
            }
        });
    }
    for (int i = 0; i < threads * unitsPerThread; ++i) {
        signalCounter(counter);
    }
    for (std::thread& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(threads * unitsPerThread, taken.load());
    EXPECT_EQ(0, counter.load());
}

} // namespace
} // namespace Raytracer
