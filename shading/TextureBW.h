#pragma once

#include "shading/Map.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Raytracer {

// A grey image from an uncompressed 8-bit TGA file, read with bilinear filtering and delivered as
// (value, 0, 0). Pixel (x, y) is pixels[y * width + x]; row 0 is the first row stored in the file.
class TextureBW final : public Map {
  public:
    // Loads the file at once; throws FatalError when it cannot be read.
    explicit TextureBW(const std::string& path);

    const float* lookup(float* out, float s, float t, float r) const override;

    std::vector<float> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

} // namespace Raytracer
