#include "render/Counter.h"

namespace Raytracer {

void signalCounter(Counter& counter) {
    counter.fetch_add(1, std::memory_order_release);
    counter.notify_one();
}

void waitCounter(Counter& counter) {
    std::int32_t value = counter.load(std::memory_order_acquire);
    for (;;) {
        while (value != 0) {
            // On failure the exchange reloads value with what it saw, and the loop retries with that.
            if (counter.compare_exchange_weak(value, value - 1, std::memory_order_acquire,
                                              std::memory_order_acquire)) {
                return;
            }
        }
        // Blocks only while the counter still reads 0, so a signal between the load and the wait is
        // never lost.
        counter.wait(0, std::memory_order_acquire);
        value = counter.load(std::memory_order_acquire);
    }
}

} // namespace Raytracer
