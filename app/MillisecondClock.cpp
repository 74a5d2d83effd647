#include "app/MillisecondClock.h"

#include <chrono>

namespace Raytracer {

namespace {
// Taken during static initialisation, which is as close to process start as portable code gets.
const auto processStart = std::chrono::steady_clock::now();
} // namespace

long clockMilliseconds() {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - processStart)
            .count());
}

} // namespace Raytracer
