#pragma once

#include "shading/Light.h"

namespace Raytracer {

// Every shadow ray aims at the light's position.
class PointLight final : public Light {
  public:
    PointLight(const Vector3& position_, const Color& color_) : Light(position_, color_, pointSampling) {}

    Vector3 samplePoint(RandomGenerator&, std::uint32_t&) override { return position; }
};

} // namespace Raytracer
