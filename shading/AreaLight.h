#pragma once

#include "shading/Light.h"
#include "shading/RandomGenerator.h"

namespace Raytracer {

// A parallelogram spanned from position (its first corner) by two edges. Until its type is switched to
// areaSampling the trace core treats it as a point light at that corner.
class AreaLight final : public Light {
  public:
    AreaLight(const Vector3& position_, const Color& color_, const Vector3& edgeU_, const Vector3& edgeV_)
        : Light(position_, color_, areaSampling), edgeU(edgeU_), edgeV(edgeV_) {}

    Vector3 edgeU;
    Vector3 edgeV;

    // A point on the parallelogram picked by the seed from the generator's table. The generator does
    // not advance, so the same seed gives the same point until its table is regenerated.
    Vector3 samplePoint(RandomGenerator& generator, std::uint32_t& seed) override {
        float a = 0.0f;
        float b = 0.0f;
        generator.samplePair(seed, a, b);
        return {position.x + a * edgeU.x + b * edgeV.x, position.y + a * edgeU.y + b * edgeV.y,
                position.z + a * edgeU.z + b * edgeV.z};
    }
};

} // namespace Raytracer
