#include "render/FrameDigest.h"

#include <bit>
#include <cstddef>
#include <cstdio>

namespace Raytracer {

namespace {

constexpr std::uint64_t fnvOffsetBasis = 0xcbf29ce484222325ull;
constexpr std::uint64_t fnvPrime = 0x100000001b3ull;

std::uint64_t mix(std::uint64_t hash, float channel) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(channel);
    for (int byte = 0; byte < 4; ++byte, bits >>= 8) {
        hash = (hash ^ (bits & 0xffu)) * fnvPrime;
    }
    return hash;
}

} // namespace

std::uint64_t frameDigest(const FrameBuffer& frame) {
    std::uint64_t hash = fnvOffsetBasis;
    const std::size_t count = static_cast<std::size_t>(frame.width()) * static_cast<std::size_t>(frame.height());
    const Color* pixels = frame.pixels();
    for (std::size_t i = 0; i < count; ++i) {
        hash = mix(mix(mix(hash, pixels[i].r), pixels[i].g), pixels[i].b);
    }
    return hash;
}

std::string digestText(std::uint64_t digest) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
    return text;
}

} // namespace Raytracer
