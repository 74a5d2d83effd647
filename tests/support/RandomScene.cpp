#include "tests/support/RandomScene.h"

#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "scene/Vertex.h"

#include <cmath>

namespace Raytracer {

namespace {

// Parts are soups inside [-partRadius, partRadius]^3 of their own frame; the proxy box is padded so
// that no triangle touches it.
constexpr float partRadius = 2.0f;
constexpr float boxPadding = 0.05f;

} // namespace

RandomScene::RandomScene(Scene& top, KdPool& pool, unsigned seed) : m_top(top), m_pool(pool), m_random(seed) {
    m_top.boundsMin = Vector3(-worldExtent, -worldExtent, -worldExtent);
    m_top.boundsSize = Vector3(2 * worldExtent, 2 * worldExtent, 2 * worldExtent);
}

Triangle* addTriangle(Scene& scene, const Vector3& a, const Vector3& b, const Vector3& c, int type) {
    Vertex* va = scene.create<Vertex>(Vertex{a, {}, 0, 0});
    Vertex* vb = scene.create<Vertex>(Vertex{b, {}, 0, 0});
    Vertex* vc = scene.create<Vertex>(Vertex{c, {}, 0, 0});
    Triangle* t = scene.create<Triangle>(type, va, vb, vc);
    scene.primitives.push_back(t);
    return t;
}

Quaternion RandomScene::randomRotation() {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const Vector3 axis = normalize(Vector3(unit(m_random), unit(m_random), unit(m_random)));
    const float half = 3.1415927f * unit(m_random) / 2.0f;
    const float s = std::sin(half);
    return Quaternion(std::cos(half), axis.x * s, axis.y * s, axis.z * s);
}

Vector3 RandomScene::randomPlacement() {
    std::uniform_real_distribution<float> place(-partPlacement, partPlacement);
    return {place(m_random), place(m_random), place(m_random)};
}

RandomScene::Part& RandomScene::addPart(int triangles) {
    std::uniform_real_distribution<float> coordinate(-partRadius + 0.5f, partRadius - 0.5f);
    std::uniform_real_distribution<float> offset(-0.5f, 0.5f);
    Scene& local = *m_top.create<Scene>();
    for (int i = 0; i < triangles; ++i) {
        const Vector3 c(coordinate(m_random), coordinate(m_random), coordinate(m_random));
        addTriangle(local, c + Vector3(offset(m_random), offset(m_random), offset(m_random)),
                    c + Vector3(offset(m_random), offset(m_random), offset(m_random)),
                    c + Vector3(offset(m_random), offset(m_random), offset(m_random)), Primitive::lit);
    }
    const float lo = -partRadius - boxPadding;
    local.boundsMin = Vector3(lo, lo, lo);
    local.boundsSize = Vector3(-2 * lo, -2 * lo, -2 * lo);
    KdTree* tree = m_top.create<KdTree>(m_pool);
    local.accelerator = tree;
    tree->build(local);

    // The proxy: the twelve triangles of the local box, posed into the world like the part.
    SceneObject* proxy = m_top.create<SceneObject>();
    proxy->ownerScene = &m_top;
    proxy->instance = &local;
    local.proxy = proxy;
    for (int i = 0; i < 8; ++i) {
        const Vector3 corner(i & 1 ? -lo : lo, i & 2 ? -lo : lo, i & 4 ? -lo : lo);
        proxy->restVertices.push_back(m_top.create<Vertex>(Vertex{corner, normalize(corner), 0, 0}));
        proxy->vertices.push_back(m_top.create<Vertex>(Vertex{corner, {}, 0, 0}));
    }
    proxy->firstPrimitive = m_top.primitiveCount();
    const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
    for (const auto& f : faces) {
        for (const auto& [i, j] : {std::pair{1, 2}, std::pair{2, 3}}) {
            Triangle* t = m_top.create<Triangle>(Primitive::proxy, proxy->vertices[f[0]], proxy->vertices[f[i]],
                                                 proxy->vertices[f[j]]);
            t->owner = proxy;
            m_top.primitives.push_back(t);
        }
    }
    proxy->endPrimitive = m_top.primitiveCount();
    m_parts.push_back(Part{&local, proxy});
    pose(m_parts.back(), randomPlacement(), randomRotation());
    return m_parts.back();
}

void RandomScene::pose(Part& part, const Vector3& position, const Quaternion& rotation) {
    part.proxy->position = position;
    part.proxy->rotation = rotation;
    part.proxy->applyTransform(position, rotation);
}

void RandomScene::addTopLevelTriangles(int triangles) {
    const float range = worldExtent - 4.0f;
    std::uniform_real_distribution<float> coordinate(-range, range);
    std::uniform_real_distribution<float> offset(-1.5f, 1.5f);
    for (int i = 0; i < triangles; ++i) {
        const Vector3 c(coordinate(m_random), coordinate(m_random), coordinate(m_random));
        m_topLevel.push_back(addTriangle(m_top, c + Vector3(offset(m_random), offset(m_random), offset(m_random)),
                                         c + Vector3(offset(m_random), offset(m_random), offset(m_random)),
                                         c + Vector3(offset(m_random), offset(m_random), offset(m_random)),
                                         Primitive::lit));
    }
}

void RandomScene::buildTopLevel() {
    if (m_top.accelerator == nullptr) {
        m_top.accelerator = m_top.create<KdTree>(m_pool);
    }
    auto& tree = static_cast<KdTree&>(*m_top.accelerator);
    tree.makeRootEmpty();
    tree.build(m_top);
}

Ray RandomScene::randomRay() {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    // Origins on a shell beyond every part's reach (parts reach partPlacement + the box diagonal).
    Vector3 origin;
    do {
        origin = Vector3(unit(m_random), unit(m_random), unit(m_random)) * (worldExtent - 0.5f);
    } while (origin.length() < partPlacement * 1.7320508f + 4.0f);
    const Vector3 target = Vector3(unit(m_random), unit(m_random), unit(m_random)) * partPlacement;
    return Ray{origin, normalize(target - origin)};
}

} // namespace Raytracer
