#pragma once

#include "geometry/Primitive.h"
#include "geometry/Ray.h"
#include "math/Quaternion.h"
#include "math/Vector3.h"

#include <random>
#include <vector>

namespace Raytracer {

class KdPool;
class Scene;
class SceneObject;
class Triangle;

// Appends a triangle over three new vertices owned by scene.
Triangle* addTriangle(Scene&, const Vector3& a, const Vector3& b, const Vector3& c,
                      int type = Primitive::lit);

// Seeded random two-level scenes for tests and benchmarks: moving parts (random triangle soups in their
// own frames, each with its kd-tree) placed by box proxies with random rotations and translations,
// plus lit triangles at the top level. Everything is owned by the top-level scene, which spans
// [-20, 20] on every axis; parts are centred within [-12, 12].
class RandomScene {
  public:
    RandomScene(Scene& top, KdPool& pool, unsigned seed);

    // A part of n triangles of about the given size at a random pose; returns its proxy, whose instance
    // is the part's scene. Build the top-level tree after adding everything.
    SceneObject* addPart(int triangles, float size = 0.5f);
    // n lit triangles, a few units across, scattered over the top level.
    void addTopLevelTriangles(int triangles);
    // (Re)builds the top-level tree over everything added.
    void buildTopLevel();
    // Moves a part to a new pose: rewrites its proxy's triangles.
    void pose(SceneObject& proxy, const Vector3& position, const Quaternion& rotation);

    // A ray from outside every proxy, aimed roughly at the middle of the scene, with a unit direction.
    Ray randomRay();

    // The proxies of the parts.
    const std::vector<SceneObject*>& parts() const { return m_parts; }

  private:
    Scene& m_top;
    KdPool& m_pool;
    std::mt19937 m_random;
    std::vector<SceneObject*> m_parts;
};

} // namespace Raytracer
