#include "tools/scenegen/TgaWriter.h"

#include <cmath>

namespace Raytracer::Scenegen {

TgaImage::TgaImage(int width_, int height_, int channels_)
    : width(width_), height(height_), channels(channels_),
      pixels(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) *
             static_cast<std::size_t>(channels_)) {}

void TgaImage::setColor(int x, int y, double red, double green, double blue) {
    const std::size_t at =
        (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
    pixels[at] = toByte(red);
    pixels[at + 1] = toByte(green);
    pixels[at + 2] = toByte(blue);
}

void TgaImage::setGrey(int x, int y, double value) {
    pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
        toByte(value);
}

std::uint8_t toByte(double value) {
    const double scaled = std::floor(value * 255.0 + 0.5);
    if (scaled <= 0.0) {
        return 0;
    }
    if (scaled >= 255.0) {
        return 255;
    }
    return static_cast<std::uint8_t>(scaled);
}

std::string tgaBytes(const TgaImage& image) {
    std::string bytes(18, '\0');
    bytes[2] = static_cast<char>(image.channels == 3 ? 2 : 3);
    bytes[12] = static_cast<char>(image.width & 0xff);
    bytes[13] = static_cast<char>((image.width >> 8) & 0xff);
    bytes[14] = static_cast<char>(image.height & 0xff);
    bytes[15] = static_cast<char>((image.height >> 8) & 0xff);
    bytes[16] = static_cast<char>(image.channels * 8);
    bytes[17] = 0x20; // first stored row at the top
    bytes.reserve(bytes.size() + image.pixels.size());
    if (image.channels == 3) {
        for (std::size_t i = 0; i < image.pixels.size(); i += 3) {
            bytes += static_cast<char>(image.pixels[i + 2]);
            bytes += static_cast<char>(image.pixels[i + 1]);
            bytes += static_cast<char>(image.pixels[i]);
        }
    } else {
        bytes.append(image.pixels.begin(), image.pixels.end());
    }
    return bytes;
}

} // namespace Raytracer::Scenegen
