#pragma once

#include "math/Color.h"
#include "shading/Map.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Raytracer {

// A colour image from an uncompressed 24-bit TGA file, read with bilinear filtering. Pixel (x, y) is
// pixels[y * width + x]; row 0 is the first row stored in the file.
class Texture final : public Map {
  public:
    // Loads the file at once; throws FatalError when it cannot be read.
    explicit Texture(const std::string& path);

    const float* lookup(float* out, float s, float t, float r) const override;

    std::vector<Color> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

} // namespace Raytracer
