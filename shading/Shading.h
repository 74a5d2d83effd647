#pragma once

#include "geometry/Ray.h"
#include "math/Color.h"
#include "math/Vector3.h"

namespace Raytracer {

class Light;
class Primitive;

// The local lighting model and the secondary-ray directions the trace core asks for. Each render
// worker owns one; nothing is destroyed through this base, hence no virtual destructor.
class Shading {
  public:
    // Adds the diffuse light arriving along L (unit, towards the light) at a surface with unit normal N
    // and colour surface into result. vis is the light's visibility from the point.
    virtual void diffuseTerm(const Vector3& L, const Vector3& N, float& vis, const Light& light,
                             const Primitive& primitive, const Color& surface, Color& result) const = 0;
    // Adds the highlight seen along ray into result; the surface colour does not tint it.
    virtual void specularTerm(const Ray& ray, const Primitive& primitive, const Light& light,
                              const Vector3& L, const Vector3& N, float& vis, Color& result) const = 0;
    // The ray's direction mirrored about N.
    virtual Vector3 reflect(const Ray& ray, const Vector3& N) const = 0;
    // The ray's direction bent through a surface with normal N facing the ray, for the index ratio eta;
    // c = -(N . direction) and k = 1 - eta^2 (1 - c^2) come from the caller, which checks k > 0.
    virtual Vector3 refract(const Ray& ray, const Vector3& N, float eta, float& c, float& k) const = 0;

  protected:
    Shading() = default;
    ~Shading() = default;
};

} // namespace Raytracer
