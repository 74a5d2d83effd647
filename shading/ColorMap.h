#pragma once

#include "math/Color.h"
#include "shading/Map.h"

namespace Raytracer {

// A constant colour.
class ColorMap final : public Map {
  public:
    explicit ColorMap(const Color& color_) : color(color_) {}

    const float* lookup(float* out, float, float, float) const override {
        out[0] = color.r;
        out[1] = color.g;
        out[2] = color.b;
        return out;
    }

    Color color;
};

} // namespace Raytracer
