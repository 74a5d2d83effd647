#include "tests/support/RandomScene.h"

#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "geometry/Vertex.h"

#include <cmath>

namespace Raytracer {

Triangle* addTriangle(Scene& scene, const Vector3& a, const Vector3& b, const Vector3& c, int type) {
    const auto vertex = [&](const Vector3& p) { return scene.create<Vertex>(Vertex{p, {}, 0, 0}); };
    scene.primitives.push_back(scene.create<Triangle>(type, vertex(a), vertex(b), vertex(c)));
    return static_cast<Triangle*>(scene.primitives.back());
}

RandomScene::RandomScene(Scene& top, KdPool& pool, unsigned seed) : m_top(top), m_pool(pool), m_random(seed) {
    m_top.boundsMin = Vector3(-20, -20, -20);
    m_top.boundsSize = Vector3(40, 40, 40);
    m_top.accelerator = m_top.create<KdTree>(m_pool);
}

namespace {

// Uniform in [-extent, extent]^3, drawn in x, y, z order.
Vector3 randomVector(std::mt19937& random, float extent) {
    std::uniform_real_distribution<float> coordinate(-extent, extent);
    const float x = coordinate(random), y = coordinate(random);
    return {x, y, coordinate(random)};
}

void addSoup(Scene& scene, std::mt19937& random, int triangles, float range, float spread) {
    for (int i = 0; i < triangles; ++i) {
        const Vector3 centre = randomVector(random, range), a = centre + randomVector(random, spread),
                      b = centre + randomVector(random, spread);
        addTriangle(scene, a, b, centre + randomVector(random, spread));
    }
}

} // namespace

SceneObject* RandomScene::addPart(int triangles, float size) {
    // A soup within 2 of the local origin, in a box padded so that no triangle touches it.
    Scene& local = *m_top.create<Scene>();
    addSoup(local, m_random, triangles, 1.5f, size);
    local.boundsMin = Vector3(-2.05f, -2.05f, -2.05f);
    local.boundsSize = Vector3(4.1f, 4.1f, 4.1f);
    local.accelerator = m_top.create<KdTree>(m_pool);
    static_cast<KdTree*>(local.accelerator)->build(local);

    // The proxy: the twelve triangles of the local box, posed into the world like the part.
    SceneObject* proxy = m_top.create<SceneObject>();
    proxy->ownerScene = &m_top;
    proxy->instance = &local;
    local.proxy = proxy;
    proxy->allocateVertices(8);
    const float c = 2.05f;
    for (int i = 0; i < 8; ++i) // proxies are never shaded, so their normals stay zero
        proxy->restVertices[i]->position = Vector3(i & 1 ? c : -c, i & 2 ? c : -c, i & 4 ? c : -c);
    proxy->firstPrimitive = m_top.primitiveCount();
    const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                             {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
    for (const auto& f : faces) {
        for (int k = 1; k < 3; ++k) {
            const auto corner = [&](int i) { return proxy->vertices[f[i]]; };
            m_top.primitives.push_back(
                m_top.create<Triangle>(Primitive::proxy, corner(0), corner(k), corner(k + 1)));
            m_top.primitives.back()->owner = proxy;
        }
    }
    proxy->endPrimitive = m_top.primitiveCount();

    const float half = 1.5707964f * randomVector(m_random, 1.0f).x;
    const Vector3 axis = normalize(randomVector(m_random, 1.0f)) * std::sin(half);
    m_parts.push_back(proxy);
    pose(*proxy, randomVector(m_random, 12.0f), Quaternion(std::cos(half), axis.x, axis.y, axis.z));
    return proxy;
}

void RandomScene::pose(SceneObject& proxy, const Vector3& position, const Quaternion& rotation) {
    proxy.position = position;
    proxy.rotation = rotation;
    proxy.applyTransform(position, rotation);
}

void RandomScene::addTopLevelTriangles(int triangles) {
    addSoup(m_top, m_random, triangles, 16.0f, 1.5f);
}

void RandomScene::buildTopLevel() {
    static_cast<KdTree*>(m_top.accelerator)->makeRootEmpty();
    static_cast<KdTree*>(m_top.accelerator)->build(m_top);
}

Ray RandomScene::randomRay() {
    // Origins on a shell beyond every part's reach: 12 sqrt(3) plus the box's half diagonal.
    Vector3 origin;
    do {
        origin = randomVector(m_random, 19.5f);
    } while (origin.length() < 24.8f);
    return Ray{origin, normalize(randomVector(m_random, 12.0f) - origin)};
}

} // namespace Raytracer
