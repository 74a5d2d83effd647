#include "shading/Twister.h"

namespace Raytracer {

namespace {

constexpr std::uint32_t upperMask = 0x80000000u;
constexpr std::uint32_t lowerMask = 0x7FFFFFFFu;
constexpr std::uint32_t magnitude[2] = {0u, 0x9908B0DFu};

} // namespace

Twister::Twister(std::uint32_t seed) : state(new std::uint32_t[stateSize]()) {
    setSeed(seed);
}

void Twister::setSeed(std::uint32_t seed) {
    state[0] = seed;
    for (std::int32_t i = 1; i < stateSize; ++i) {
        state[i] = state[i - 1] * 69069u;
    }
    // A second, xorshift-scrambled stream breaks up the plain multiplicative sequence; word 0 keeps the
    // seed as it is.
    std::uint32_t v = 373737u;
    for (std::int32_t i = 1; i < stateSize; ++i) {
        state[i] ^= v;
        const std::uint32_t t = v * 5531u + 81547u;
        v = t ^ (t << 19) ^ (t >> 9);
    }
    index = stateSize;
}

// In place and in this order: the wrapped-around steps read words the first loop already renewed.
void Twister::regenerate() {
    constexpr std::int32_t n = stateSize;
    constexpr std::int32_t m = middleOffset;
    std::int32_t k = 0;
    for (; k < n - m; ++k) {
        const std::uint32_t y = (state[k] & upperMask) | (state[k + 1] & lowerMask);
        state[k] = state[k + m] ^ (y >> 1) ^ magnitude[y & 1u];
    }
    for (; k < n - 1; ++k) {
        const std::uint32_t y = (state[k] & upperMask) | (state[k + 1] & lowerMask);
        state[k] = state[k + m - n] ^ (y >> 1) ^ magnitude[y & 1u];
    }
    const std::uint32_t y = (state[n - 1] & upperMask) | (state[0] & lowerMask);
    state[n - 1] = state[m - 1] ^ (y >> 1) ^ magnitude[y & 1u];
    index = 0;
}

std::uint32_t Twister::nextUint() {
    if (index >= stateSize) {
        regenerate();
    }
    const std::uint32_t y = state[index];
    ++index;
    return temper(y);
}

float Twister::nextFloat() {
    return toUnit(nextUint());
}

void Twister::samplePair(std::uint32_t seed, float& a, float& b) const {
    const std::uint32_t i = (seed & 0xFFFFu) ^ (seed >> 16);
    a = toUnit(temper(state[i]));
    b = toUnit(temper(state[(i + 1u) & 0xFFFFu]));
}

} // namespace Raytracer
