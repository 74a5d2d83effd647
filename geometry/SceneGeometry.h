#pragma once

#include "math/Vector3.h"

#include <vector>

namespace Raytracer {

class AccelerationStructure;
class InstancePlacement;
class Primitive;

// What the kd-trees read of a scene: its primitives, the box they are built in, its tree, and for a
// moving part's scene the proxy that places it in the world. Scene adds everything else; no scene is
// destroyed through this base.
class SceneGeometry {
  public:
    std::vector<Primitive*> primitives;
    AccelerationStructure* accelerator = nullptr; // kd-tree over primitives, built by the loaders
    Vector3 boundsMin;                            // lowest corner of the box the tree is built in
    Vector3 boundsSize;                           // extent along x, y, z
    InstancePlacement* proxy = nullptr;           // sub-scenes: the box that stands for this scene

    int primitiveCount() const { return static_cast<int>(primitives.size()); }

  protected:
    SceneGeometry() = default;
    ~SceneGeometry() = default;
};

} // namespace Raytracer
