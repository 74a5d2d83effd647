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
Triangle* addTriangle(Scene& scene, const Vector3& a, const Vector3& b, const Vector3& c, int type = Primitive::lit);

// Seeded random two-level scenes for tests and benchmarks: moving parts (random triangle soups in their
// own frames, each with its kd-tree) placed by box proxies with random rotations and translations,
// plus lit triangles at the top level. Everything is owned by the top-level scene.
class RandomScene {
public:
    struct Part {
        Scene* scene;
        SceneObject* proxy; // its box in the top-level scene
    };

    // The top-level scene spans [-worldExtent, worldExtent] on every axis; parts lie within
    // partPlacement of the origin, so rays from farther out start outside every proxy.
    static constexpr float worldExtent = 20.0f;
    static constexpr float partPlacement = 12.0f;

    RandomScene(Scene& top, KdPool& pool, unsigned seed);

    // A part of n triangles, placed at random. Build the top-level tree after adding everything.
    Part& addPart(int triangles);
    // n small lit triangles scattered over the top level.
    void addTopLevelTriangles(int triangles);
    // Builds the top-level tree over everything added.
    void buildTopLevel();
    // Moves part to a new pose: rewrites its proxy's triangles.
    void pose(Part& part, const Vector3& position, const Quaternion& rotation);

    // A ray from outside every proxy, aimed roughly at the middle of the scene, with a unit direction.
    Ray randomRay();
    Quaternion randomRotation();
    Vector3 randomPlacement();

    const std::vector<Part>& parts() const { return m_parts; }
    const std::vector<Triangle*>& topLevelTriangles() const { return m_topLevel; }

private:
    Scene& m_top;
    KdPool& m_pool;
    std::mt19937 m_random;
    std::vector<Part> m_parts;
    std::vector<Triangle*> m_topLevel;
};

} // namespace Raytracer
