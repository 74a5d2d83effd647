#pragma once

#include <string>

namespace Raytracer {

// The file name --out gives a frame. A name with a frame number in it, written %d or %0Nd (N from 1 to
// 9) as printf writes an int, names every frame of a sequence, numbered from 1; %% is a percent sign.
// Any other % is refused, so that a mistyped pattern cannot write every frame over one file.
class FrameFileName {
  public:
    // Why pattern cannot be used, or empty when it can.
    static std::string problem(const std::string& pattern);

    // pattern must be one problem() accepts.
    explicit FrameFileName(const std::string& pattern);

    bool numbered() const { return m_numbered; }
    std::string forFrame(int frame) const;

  private:
    std::string m_prefix; // the name before the number, or the whole name, with %% read
    std::string m_suffix;
    int m_width = 0; // digits, zero-padded
    bool m_numbered = false;
};

} // namespace Raytracer
