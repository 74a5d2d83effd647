#pragma once

#include <cstdint>

namespace Raytracer {

// The source of random numbers for sampling. Each render worker owns one and never destroys it
// through this base, hence no virtual destructor.
class RandomGenerator {
  public:
    // Restarts the sequence; the next draw builds a fresh table.
    virtual void setSeed(std::uint32_t seed) = 0;
    // Two values in [0, 1] picked from the current table by a hash of seed. Reads only, so callers
    // that share nothing but the seed (area lights) need no mutable state.
    virtual void samplePair(std::uint32_t seed, float& a, float& b) const = 0;
    // Next value in [0, 1]; both ends can occur.
    virtual float nextFloat() = 0;
    virtual std::uint32_t nextUint() = 0;

  protected:
    RandomGenerator() = default;
    ~RandomGenerator() = default;
};

} // namespace Raytracer
