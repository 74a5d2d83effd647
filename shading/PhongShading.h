#pragma once

#include "shading/Shading.h"

namespace Raytracer {

// Lambert diffuse plus a Phong highlight of fixed exponent 50, read from the primitive's material.
// Stateless; final so that the trace core's calls through a PhongShading are direct.
class PhongShading final : public Shading {
  public:
    // Rational stand-in for s^50: s / (n - n s + s) with n = 50. It matches the power at s = 0 and
    // s = 1 and falls off alike near 1, for a division instead of a pow.
    static constexpr float highlightExponent = 50.0f;

    void diffuseTerm(const Vector3& L, const Vector3& N, float& vis, const Light& light,
                     const Primitive& primitive, const Color& surface, Color& result) const override;
    void specularTerm(const Ray& ray, const Primitive& primitive, const Light& light, const Vector3& L,
                      const Vector3& N, float& vis, Color& result) const override;
    Vector3 reflect(const Ray& ray, const Vector3& N) const override;
    // Not renormalised: for unit inputs the result is unit up to rounding.
    Vector3 refract(const Ray& ray, const Vector3& N, float eta, float& c, float& k) const override;
};

} // namespace Raytracer
