#pragma once

#include <cmath>
#include <cstdint>

namespace Raytracer {

// The four pixels a bilinear image lookup blends and the weights' fractions, shared by the colour and
// the grey texture so that both wrap and mirror alike.
struct TexelFootprint {
    std::int32_t x0, y0, x1, y1;
    float fx, fy;

    // Both coordinates are scaled by the width: the image repeats with period 1 in s and height/width
    // in t, mirrored about 0, and the last column and row blend into the first.
    TexelFootprint(float s, float t, std::int32_t width, std::int32_t height) {
        const float x = inIntegerRange(std::fabs(s) * static_cast<float>(width), width);
        const float y = inIntegerRange(std::fabs(t) * static_cast<float>(width), height);
        const std::int32_t xi = static_cast<std::int32_t>(x);
        const std::int32_t yi = static_cast<std::int32_t>(y);
        fx = x - static_cast<float>(xi);
        fy = y - static_cast<float>(yi);
        x0 = xi % width;
        y0 = yi % height;
        x1 = (x0 + 1) % width;
        y1 = (y0 + 1) % height;
    }

  private:
    // A scaled coordinate at or beyond 2^31 cannot be truncated to an int32. Such a float is a whole
    // number and fmod by the period is exact, so it lands on the very pixel the unbounded wrap would
    // pick, with no blend. Infinities and NaN have no pixel; they read as coordinate 0.
    static float inIntegerRange(float v, std::int32_t period) {
        if (v < 2147483648.0f) {
            return v;
        }
        const float reduced = std::fmod(v, static_cast<float>(period));
        return std::isnan(reduced) ? 0.0f : reduced;
    }
};

} // namespace Raytracer
