#pragma once

#include "math/Quaternion.h"
#include "math/Vector3.h"

namespace Raytracer {

class SceneGeometry;

// Where a proxy puts the scene it stands for: the transform from that scene's local frame to the
// world, which the kd-trees apply to rays that hit the proxy. SceneObject adds the mesh; no object is
// destroyed through this base.
class InstancePlacement {
  public:
    Vector3 position;                  // local-to-world translation of the instance
    Quaternion rotation;               // local-to-world rotation of the instance
    SceneGeometry* instance = nullptr; // proxies: the object-level scene they stand for

  protected:
    InstancePlacement() = default;
    ~InstancePlacement() = default;
};

} // namespace Raytracer
