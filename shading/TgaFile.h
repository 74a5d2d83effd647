#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Raytracer {

// The pixel bytes of an uncompressed TGA image, rows in file order, and its size from the header.
struct TgaPixels {
    std::int32_t width = 0;
    std::int32_t height = 0;
    // width * height * bytesPerPixel bytes, starting at the first stored row.
    std::vector<std::uint8_t> bytes;
};

// Reads the image at path with bytesPerPixel bytes per pixel (3 for BGR colour, 1 for grey). Only the
// width, the height, the image ID length and the compression are looked at; the pixel depth and the
// origin flags are taken on trust. Throws FatalError when the file cannot be opened, is shorter than
// its header promises, has a zero size or is run-length encoded.
TgaPixels readTgaPixels(const std::string& path, int bytesPerPixel);

} // namespace Raytracer
