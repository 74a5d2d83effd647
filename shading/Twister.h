#pragma once

#include "shading/RandomGenerator.h"

#include <cstdint>
#include <memory>

namespace Raytracer {

struct TwisterGeneration;

// A Mersenne Twister (MT19937 recurrence and tempering) over a 65536-word table with its own seeding.
// The large table gives area lights enough distinct pairs to index by a 16-bit hash. One per render
// thread; not thread-safe.
//
// The table after n regenerations depends only on the seed and n, and every worker seeds alike, so
// generators that have drawn as many words share one read-only table: a regeneration looks its
// generation up, and only the first generator to reach it computes it. A table lives as long as some
// generator holds it, so memory follows how far apart the workers have drawn, not how many there are.
class Twister final : public RandomGenerator {
  public:
    static constexpr std::int32_t stateSize = 65536;
    static constexpr std::int32_t middleOffset = 397;
    // What every render worker seeds its generator with.
    static constexpr std::uint32_t workerSeed = 4067493906u;

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

    // The table the draws read, shared with every generator of the same seed and generation.
    const std::uint32_t* table() const { return m_table; }
    std::int32_t index = stateSize; // next word to hand out; stateSize or more means regenerate first

    // Seeds table in place.
    static void seed(std::uint32_t* table, std::uint32_t seed);
    // The next table from table, in place.
    static void regenerate(std::uint32_t* table);

  private:
    void next();
    // Moves to the given generation of seed; previous is the table of the one before it, which this
    // generator still holds, or null for generation 0.
    void hold(std::uint32_t seed, std::uint64_t generation, const std::uint32_t* previous);

    const std::uint32_t* m_table = nullptr;
    std::uint32_t m_seed = workerSeed;
    std::uint64_t m_generation = 0;                // regenerations since seeding
    std::shared_ptr<TwisterGeneration> m_held;     // keeps m_table alive
};

} // namespace Raytracer
