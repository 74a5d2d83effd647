#pragma once

#include "math/Color.h"
#include "math/Vector3.h"

#include <cstdint>

namespace Raytracer {

class RandomGenerator;

// A light source; subclasses differ only in where a shadow ray aims. The scene owns its lights and
// never deletes one through this base, which is why it has no virtual destructor.
class Light {
  public:
    // Values of `type`: how the trace core samples the light. Any value but pointSampling means
    // "aim n shadow rays at n sample points".
    static constexpr std::int32_t pointSampling = 1;
    static constexpr std::int32_t areaSampling = 2;
    static constexpr std::int32_t sphereSampling = 3;

    Vector3 position; // where shading aims L; the corner of an area light, the centre otherwise
    Color color;      // multiplied into every diffuse and specular term
    std::int32_t type = pointSampling;

    // The point a shadow ray aims at, drawn with the worker's generator; seed is the per-sample word
    // the trace core builds. Lights that are points ignore both.
    virtual Vector3 samplePoint(RandomGenerator& generator, std::uint32_t& seed) = 0;

  protected:
    Light(const Vector3& position_, const Color& color_, std::int32_t type_)
        : position(position_), color(color_), type(type_) {}
    ~Light() = default;
};

} // namespace Raytracer
