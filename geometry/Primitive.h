#pragma once

#include "geometry/Box.h"
#include "geometry/MaterialBase.h"
#include "geometry/Ray.h"
#include "math/Vector3.h"

#include <cstdint>

namespace Raytracer {

class InstancePlacement;

// A surface the kd-trees hold. Triangle is the only kind; traversal calls it directly, so the virtual
// interface serves the loaders and tests, not the inner loops.
class Primitive {
  public:
    // Values of `type`.
    static constexpr std::int32_t lit = 2;         // ordinary lit triangle
    static constexpr std::int32_t proxy = 3;       // bounding-box proxy of a moving part
    static constexpr std::int32_t environment = 4; // shown unlit, with its colour only

    const MaterialBase* material = nullptr; // set for lit and environment triangles, never for proxies
    InstancePlacement* owner = nullptr; // proxies only: the box object whose instance scene they stand for
    std::int32_t type;

    // 0 for no hit, else +1 or -1 (the facing). distance: in the limit, out the hit distance (written
    // only on a hit); u, v: barycentric weights, possibly written on a miss too.
    virtual int intersect(const Ray& ray, float& distance, float& u, float& v) const = 0;
    virtual bool overlapsBox(const Box& box) const = 0;
    // Lowest and highest corner coordinate along axis (0, 1, 2).
    virtual void extent(float& min, float& max, int axis) const = 0;
    // Unit interpolated vertex normal at barycentric (u, v); the point is unused by triangles.
    virtual Vector3 normalAt(const Vector3& point, float u, float v) const = 0;
    // Recomputes the plane after the corners moved.
    virtual void update() = 0;
    // Turns barycentric (u, v) into texture coordinates (s, t), in place; w is left alone.
    virtual void textureCoordinates(const Vector3& point, float& u, float& v, float& w) const = 0;

  protected:
    explicit Primitive(std::int32_t type_) : type(type_) {}
    ~Primitive() = default;
};

} // namespace Raytracer
