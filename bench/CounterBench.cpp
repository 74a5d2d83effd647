// What the frame hand-off costs: processor time of idle workers, and the delay from a signal to a
// released worker running. "poll" is the earlier scheme (sleep 1 ms between looks at the counter),
// kept here as the baseline; "block" is waitCounter.
#include "render/Counter.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace Raytracer;

namespace {

void pollingWait(Counter& counter) {
    for (;;) {
        std::int32_t value = counter.load();
        while (value != 0) {
            if (counter.compare_exchange_weak(value, value - 1)) {
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

template <bool polling> void waitOn(Counter& counter) {
    if constexpr (polling) {
        pollingWait(counter);
    } else {
        waitCounter(counter);
    }
}

// Processor cores used by 1024 workers that wait for a frame that does not come (an idle viewer).
template <bool polling> void IdleWorkers(benchmark::State& state) {
    constexpr int workers = 1024;
    auto triggers = std::make_unique<Counter[]>(workers);
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) {
        threads.emplace_back([&triggers, i] { waitOn<polling>(triggers[i]); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    double cores = 0.0;
    for (auto _ : state) {
        const double cpuBefore = processCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallBefore;
        cores = (processCpuSeconds() - cpuBefore) / wall.count();
        state.SetIterationTime(wall.count());
    }
    state.counters["cores"] = cores;
    for (int i = 0; i < workers; ++i) {
        signalCounter(triggers[i]);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// Round trip: the driver releases a worker, which signals back at once.
template <bool polling> void ReleaseRoundTrip(benchmark::State& state) {
    Counter trigger(0);
    Counter done(0);
    bool stop = false;
    std::thread worker([&] {
        for (;;) {
            waitOn<polling>(trigger);
            if (stop) {
                return;
            }
            signalCounter(done);
        }
    });
    for (auto _ : state) {
        signalCounter(trigger);
        waitOn<polling>(done);
    }
    stop = true;
    signalCounter(trigger);
    worker.join();
}

} // namespace

BENCHMARK_TEMPLATE(IdleWorkers, true)
    ->Name("IdleWorkers/poll")
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(IdleWorkers, false)
    ->Name("IdleWorkers/block")
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(ReleaseRoundTrip, true)
    ->Name("ReleaseRoundTrip/poll")
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0);
BENCHMARK_TEMPLATE(ReleaseRoundTrip, false)
    ->Name("ReleaseRoundTrip/block")
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0);

