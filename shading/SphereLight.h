#pragma once

#include "shading/Light.h"

namespace Raytracer {

// A light with a size, sampled at its centre: the radius is kept from the scene but plays no part in
// where shadow rays aim.
class SphereLight final : public Light {
  public:
    SphereLight(const Vector3& position_, const Color& color_, float radius_)
        : Light(position_, color_, sphereSampling), radius(radius_) {}

    float radius;

    Vector3 samplePoint(RandomGenerator&, std::uint32_t&) override { return position; }
};

} // namespace Raytracer
