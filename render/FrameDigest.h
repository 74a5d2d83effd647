#pragma once

#include "render/FrameBuffer.h"

#include <cstdint>
#include <string>

namespace Raytracer {

// FNV-1a (64 bits) over the bit patterns of every channel of every pixel, in memory order. Two frames
// have the same digest only when they are the same bit for bit (0.0 and -0.0 differ), which is what a
// change that must not move a pixel is held to.
std::uint64_t frameDigest(const FrameBuffer& frame);

// The digest as 16 lower-case hexadecimal digits.
std::string digestText(std::uint64_t digest);

} // namespace Raytracer
