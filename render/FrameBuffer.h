#pragma once

#include "math/Color.h"

#include <cstddef>
#include <vector>

namespace Raytracer {

// The float image the workers render into: row-major, pixel (x, y) at y * width + x, row 0 at the
// bottom (the order glDrawPixels consumes). Colours are unclamped; only the display clamps them.
class FrameBuffer {
  public:
    FrameBuffer(int width, int height)
        : m_width(width), m_height(height), m_pixels(static_cast<std::size_t>(width) * height) {}

    int width() const { return m_width; }
    int height() const { return m_height; }
    Color* pixels() { return m_pixels.data(); }
    const Color* pixels() const { return m_pixels.data(); }
    const Color& at(int x, int y) const { return m_pixels[static_cast<std::size_t>(y) * m_width + x]; }

  private:
    int m_width;
    int m_height;
    std::vector<Color> m_pixels;
};

} // namespace Raytracer
