#pragma once

#include "shading/Map.h"

namespace Raytracer {

// A constant number, delivered as (value, 0, 0).
class FloatMap final : public Map {
  public:
    explicit FloatMap(float value_) : value(value_) {}

    const float* lookup(float* out, float, float, float) const override {
        out[0] = value;
        out[1] = 0.0f;
        out[2] = 0.0f;
        return out;
    }

    float value;
};

} // namespace Raytracer
