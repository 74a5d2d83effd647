#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Raytracer::Scenegen {

// An image to be stored as an uncompressed TGA file. Row 0 is stored first and is the row texture
// lookups reach at t = 0; the header marks it as the top row so that image viewers agree.
struct TgaImage {
    int width = 0;
    int height = 0;
    int channels = 3;                 // 3: colour, stored blue, green, red; 1: grey
    std::vector<std::uint8_t> pixels; // row by row, channels bytes per pixel; colour as red, green, blue

    TgaImage(int width_, int height_, int channels_);
    void setColor(int x, int y, double red, double green, double blue); // components in [0, 1]
    void setGrey(int x, int y, double value);
};

// The file bytes: the 18-byte header (type 2 for colour, 3 for grey) and the pixel rows.
std::string tgaBytes(const TgaImage& image);

// A component in [0, 1] as a byte: rounded, clamped to 0..255.
std::uint8_t toByte(double value);

} // namespace Raytracer::Scenegen
