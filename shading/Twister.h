#pragma once

#include "shading/RandomGenerator.h"

#include <cstdint>
#include <memory>

namespace Raytracer {

// A Mersenne Twister (MT19937 recurrence and tempering) over a 65536-word table with its own seeding.
// The large table gives area lights enough distinct pairs to index by a 16-bit hash. One per render
// thread; not thread-safe.
class Twister final : public RandomGenerator {
  public:
    static constexpr std::int32_t stateSize = 65536;
    static constexpr std::int32_t middleOffset = 397;
    // What every render worker seeds its generator with.
    static constexpr std::uint32_t workerSeed = 4067493906u;

    // Allocates the table (256 KiB) once; drawing never allocates.
    explicit Twister(std::uint32_t seed = workerSeed);
    Twister(const Twister&) = delete;
    Twister& operator=(const Twister&) = delete;

    void setSeed(std::uint32_t seed) override;
    void samplePair(std::uint32_t seed, float& a, float& b) const override;
    float nextFloat() override;
    std::uint32_t nextUint() override;

    static std::uint32_t temper(std::uint32_t y) {
        y ^= y >> 11;
        y ^= (y << 7) & 0x9D2C5680u;
        y ^= (y << 15) & 0xEFC60000u;
        y ^= y >> 18;
        return y;
    }

    // 2^-32 as a float (0x2F800000): words from 2^32 - 128 up round to 2^32 and give exactly 1.
    static float toUnit(std::uint32_t word) { return static_cast<float>(word) * 2.3283064365386963e-10f; }

    std::unique_ptr<std::uint32_t[]> state;
    std::int32_t index = stateSize; // next word to hand out; stateSize or more means regenerate first

  private:
    void regenerate();
};

} // namespace Raytracer
