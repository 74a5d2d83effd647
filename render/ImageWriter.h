#pragma once

#include <string>

namespace Raytracer {

class FrameBuffer;

// Writes the frame buffer as the window shows it: top row first, each channel clamped to [0, 1] and
// scaled to 0..255. PNG when path ends in ".png", binary PPM otherwise, written through an AtomicFile.
// Throws FatalError naming the file when it cannot be written.
void writeImage(const FrameBuffer& frame, const std::string& path);

// The 8-bit value the display's pixel transfer gives a float channel (NaN reads as 0).
unsigned char toDisplayByte(float channel);

} // namespace Raytracer
