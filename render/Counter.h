#pragma once

#include <atomic>
#include <cstdint>

namespace Raytracer {

// The whole frame hand-off between the driver and the bucket workers: a counter of released units.
// Signalling adds a unit; waiting takes one, never letting the count drop below zero.
using Counter = std::atomic<std::int32_t>;

// Adds one unit and wakes a waiter blocked on an empty counter.
void signalCounter(Counter& counter);

// Takes one unit, blocking while the counter is 0. A blocked waiter sleeps in the kernel until a
// signal arrives, so a thousand idle workers cost no processor time.
void waitCounter(Counter& counter);

} // namespace Raytracer
