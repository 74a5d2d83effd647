#pragma once

#include "geometry/HitRecord.h"
#include "geometry/Ray.h"

namespace Raytracer {

class Primitive;
class SceneGeometry;
struct TraversalScratch;

// How a scene finds its primitives. KdTree is the only kind.
class AccelerationStructure {
  public:
    // Builds over scene.primitives inside the scene's bounds.
    virtual void build(SceneGeometry& scene) = 0;
    // Nearest hit closer than record.distance: 0 for none, else the hit's facing (+1 or -1), with the
    // record filled in. Proxies are searched in their instance scenes.
    virtual int intersectNearest(const Ray& ray, HitRecord& record, TraversalScratch& scratch) const = 0;
    // The same inside instance, for a ray already in the instance's frame.
    virtual int intersectNearestInInstance(const Ray& ray, float& distance, const Primitive*& primitive,
                                           const SceneGeometry& instance, float& u, float& v,
                                           TraversalScratch& scratch) const = 0;
    // 1 when some primitive of instance lies closer than distance along the local ray, else 0.
    virtual int occludedInInstance(const Ray& ray, float distance, const SceneGeometry& instance,
                                   TraversalScratch& scratch) const = 0;
    // 1 when some primitive lies closer than distance, else 0.
    virtual int occluded(const Ray& ray, float distance, TraversalScratch& scratch) const = 0;

  protected:
    ~AccelerationStructure() = default;
};

} // namespace Raytracer
