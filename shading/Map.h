#pragma once

namespace Raytracer {

// A material property: a value for a texture coordinate. Constant maps ignore the coordinate; scalar
// maps put their value in the first component. Owned by its material, never deleted through Map.
class Map {
  public:
    // Fills out (three floats) for (s, t); r is ignored by every map. Returns out.
    virtual const float* lookup(float* out, float s, float t, float r) const = 0;

  protected:
    ~Map() = default;
};

} // namespace Raytracer
