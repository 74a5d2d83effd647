#pragma once

#include "geometry/InstancePlacement.h"
#include "geometry/Vertex.h"
#include "math/Quaternion.h"
#include "math/Vector3.h"

#include <cstdint>
#include <vector>

namespace Raytracer {

class Scene;

// A mesh built from one OBJ object: its vertices (current and rest copies) and where its triangles sit
// in the primitive list of ownerScene. A bounding-box proxy also carries, in its placement, the
// transform from its instance scene's local frame to the world.
class SceneObject : public InstancePlacement {
  public:
    std::vector<Vertex*> vertices;     // current (posed) copy; the triangles point at these
    std::vector<Vertex*> restVertices; // transforms always start from this copy
    Scene* ownerScene = nullptr;
    std::int32_t firstPrimitive = 0;
    std::int32_t endPrimitive = 0;

    int vertexCount() const { return static_cast<int>(vertices.size()); }

    // Creates count vertex records for each copy, all zero, owned by this object.
    void allocateVertices(int count);

    // Bounds of the rest positions. Both start at +-10000, so an axis whose positions all lie beyond
    // that keeps the start value on that side.
    void computeBounds(Vector3& min, Vector3& max) const;

    // Poses the object: every current vertex becomes the rest vertex turned by rotation (unit) and
    // moved by position, and the object's triangles recompute their planes. Starting from the rest
    // copy each time keeps repeated posing free of accumulated error.
    void applyTransform(const Vector3& position, const Quaternion& rotation);

    // Re-expresses the object in the local frame given by position and rotation (unit): both copies
    // become the inverse transform of the rest copy. Used once, at load.
    void rebase(const Vector3& position, const Quaternion& rotation);

  private:
    void updateTriangles();

    std::vector<Vertex> m_vertexStore; // both copies; sized once, so the pointers stay valid
};

} // namespace Raytracer
