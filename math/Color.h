#pragma once

namespace Raytracer {

// Linear RGB, unclamped while tracing: 1.0 is full intensity and highlights may exceed it.
struct Color {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;

    constexpr Color() = default;
    constexpr Color(float r_, float g_, float b_) : r(r_), g(g_), b(b_) {}

    constexpr Color operator+(const Color& o) const { return {r + o.r, g + o.g, b + o.b}; }
    constexpr Color operator*(const Color& o) const { return {r * o.r, g * o.g, b * o.b}; }
    constexpr Color operator*(float s) const { return {r * s, g * s, b * s}; }
    Color& operator+=(const Color& o) {
        r += o.r;
        g += o.g;
        b += o.b;
        return *this;
    }
    constexpr bool operator==(const Color&) const = default;
};

} // namespace Raytracer
