#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/TraversalScratch.h"
#include "geometry/Triangle.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "scene/Vertex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

namespace Raytracer {
namespace {

// Appends a triangle over three new vertices owned by scene.
Triangle* addTriangle(Scene& scene, const Vector3& a, const Vector3& b, const Vector3& c,
                      std::int32_t type = Primitive::lit) {
    Vertex* va = scene.create<Vertex>(Vertex{a, {}, 0, 0});
    Vertex* vb = scene.create<Vertex>(Vertex{b, {}, 0, 0});
    Vertex* vc = scene.create<Vertex>(Vertex{c, {}, 0, 0});
    Triangle* t = scene.create<Triangle>(type, va, vb, vc);
    scene.primitives.push_back(t);
    return t;
}

// The twelve triangles of an axis-aligned box, as proxies standing for owner's instance.
void addBox(Scene& scene, const Vector3& lo, const Vector3& hi, SceneObject* owner) {
    const auto corner = [&](int i) {
        return Vector3(i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z);
    };
    const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                             {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
    for (const auto& f : faces) {
        addTriangle(scene, corner(f[0]), corner(f[1]), corner(f[2]), Primitive::proxy)->owner = owner;
        addTriangle(scene, corner(f[0]), corner(f[2]), corner(f[3]), Primitive::proxy)->owner = owner;
    }
}

class KdTreeTraversal : public ::testing::Test {
  protected:
    KdTreeTraversal() : pool(200000), scratch(std::make_unique<TraversalScratch>()) {}

    KdTree* buildTree(Scene& scene, const Vector3& lo, const Vector3& size) {
        scene.boundsMin = lo;
        scene.boundsSize = size;
        KdTree* tree = scene.create<KdTree>(pool);
        scene.accelerator = tree;
        tree->build(scene);
        return tree;
    }

    KdPool pool;
    std::unique_ptr<TraversalScratch> scratch;
};

TEST_F(KdTreeTraversal, EmptySceneMissesAndClipsTheSegmentToItsBox) {
    Scene scene;
    KdTree* tree = buildTree(scene, {-10, -10, -10}, {20, 20, 20});
    HitRecord record;
    EXPECT_EQ(0, tree->intersectNearest(Ray{{0, 20, 0}, {0, -1, 0}}, record, *scratch));
    EXPECT_EQ(10000.0f, record.distance);
    EXPECT_EQ(nullptr, record.primitive);
    // The walk entered at the top face and leaves at the bottom one.
    EXPECT_EQ(10.0f, scratch->topLevelStack[0].t);
    EXPECT_EQ(30.0f, scratch->topLevelStack[1].t);
    EXPECT_EQ(Vector3(0, 10, 0), scratch->topLevelStack[0].point);
    EXPECT_EQ(Vector3(0, -10, 0), scratch->topLevelStack[1].point);

    // Starting inside, the entry point is the origin itself.
    EXPECT_EQ(0, tree->intersectNearest(Ray{{1, 2, 3}, {1, 0, 0}}, record, *scratch));
    EXPECT_EQ(0.0f, scratch->topLevelStack[0].t);
    EXPECT_EQ(Vector3(1, 2, 3), scratch->topLevelStack[0].point);
    EXPECT_EQ(0, tree->occluded(Ray{{1, 2, 3}, {1, 0, 0}}, 100.0f, *scratch));
}

TEST_F(KdTreeTraversal, RayLeavingTheBoxIsRejectedBeforeTheWalk) {
    Scene scene;
    addTriangle(scene, {-5, -5, 0}, {5, -5, 0}, {0, 5, 0});
    KdTree* tree = buildTree(scene, {-10, -10, -10}, {20, 20, 20});
    scratch->topLevelStack[1].t = -1.0f;
    HitRecord record;
    // Outside on +x and moving further out: the stack is not even set up.
    EXPECT_EQ(0, tree->intersectNearest(Ray{{20, 0, -5}, {1, 0, 0}}, record, *scratch));
    EXPECT_EQ(-1.0f, scratch->topLevelStack[1].t);
    // The same triangle is found from in front.
    EXPECT_NE(0, tree->intersectNearest(Ray{{0, 0, -20}, {0, 0, 1}}, record, *scratch));
    EXPECT_FLOAT_EQ(20.0f, record.distance);
}

TEST_F(KdTreeTraversal, OccludedIgnoresBlockersAtOrBeyondTheDistance) {
    Scene scene;
    addTriangle(scene, {-5, -5, 4}, {5, -5, 4}, {0, 5, 4});
    KdTree* tree = buildTree(scene, {-10, -10, -10}, {20, 20, 20});
    const Ray ray{{0, 0, 0}, {0, 0, 1}};
    EXPECT_EQ(1, tree->occluded(ray, 4.5f, *scratch));
    EXPECT_EQ(0, tree->occluded(ray, 4.0f, *scratch)); // exactly at the distance
    EXPECT_EQ(0, tree->occluded(ray, 3.0f, *scratch));
}

// Random triangle soups against a brute-force search with the same triangle test.
TEST_F(KdTreeTraversal, AgreesWithBruteForceOnRandomSoups) {
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> coordinate(-9.0f, 9.0f);
    std::uniform_real_distribution<float> offset(-1.5f, 1.5f);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int soup = 0; soup < 4; ++soup) {
        Scene scene;
        for (int i = 0; i < 300; ++i) {
            const Vector3 c(coordinate(random), coordinate(random), coordinate(random));
            addTriangle(scene, c + Vector3(offset(random), offset(random), offset(random)),
                        c + Vector3(offset(random), offset(random), offset(random)),
                        c + Vector3(offset(random), offset(random), offset(random)));
        }
        KdTree* tree = buildTree(scene, {-11, -11, -11}, {22, 22, 22});
        int hits = 0;
        for (int r = 0; r < 2000; ++r) {
            const Ray ray{{coordinate(random) * 1.5f, coordinate(random) * 1.5f, coordinate(random) * 1.5f},
                          normalize(Vector3(unit(random), unit(random), unit(random)))};
            float nearest = 10000.0f;
            const Primitive* nearestPrimitive = nullptr;
            for (const Primitive* p : scene.primitives) {
                float t = nearest;
                float u;
                float v;
                if (p->intersect(ray, t, u, v) != 0) {
                    nearest = t;
                    nearestPrimitive = p;
                }
            }
            HitRecord record;
            const int facing = tree->intersectNearest(ray, record, *scratch);
            ASSERT_EQ(nearestPrimitive != nullptr, facing != 0) << "soup " << soup << " ray " << r;
            if (nearestPrimitive == nullptr) {
                continue;
            }
            ++hits;
            // Equal distances may resolve to either triangle; the distance itself must agree.
            EXPECT_EQ(nearest, record.distance) << "soup " << soup << " ray " << r;
            EXPECT_EQ(nullptr, record.instance);
            float t = 10000.0f;
            float u;
            float v;
            EXPECT_EQ(facing, record.primitive->intersect(ray, t, u, v));
            EXPECT_EQ(u, record.u);
            EXPECT_EQ(v, record.v);

            // Shadow queries to just before and just after the nearest hit.
            EXPECT_EQ(0, tree->occluded(ray, nearest * 0.999f, *scratch)) << "soup " << soup << " ray " << r;
            EXPECT_EQ(1, tree->occluded(ray, nearest * 1.001f + 1e-4f, *scratch))
                << "soup " << soup << " ray " << r;
        }
        EXPECT_GT(hits, 150); // the comparison is not vacuous
    }
}

// A moving part: a triangle in its own frame, reached through a box proxy in the top-level scene.
class TwoLevelScene : public KdTreeTraversal {
  protected:
    TwoLevelScene() {
        // Local frame: a triangle in the plane z = 0 around the origin.
        localTriangle = addTriangle(part, {-1, -1, 0}, {1, -1, 0}, {0, 1, 0});
        buildTree(part, {-2, -2, -2}, {4, 4, 4});
        proxy = top.create<SceneObject>();
        proxy->instance = &part;
        part.proxy = proxy;
        // Placed at (3, 0, 0), turned a quarter about y: the local +z axis points along world +x.
        proxy->position = Vector3(3, 0, 0);
        proxy->rotation = Quaternion(std::cos(0.7853982f), 0, std::sin(0.7853982f), 0);
        addBox(top, {1, -2, -2}, {5, 2, 2}, proxy);
    }

    Scene part;
    Scene top;
    SceneObject* proxy;
    Triangle* localTriangle;
};

TEST_F(TwoLevelScene, HitInsideAnInstanceReportsItsLocalTriangleAndWorldDistance) {
    Triangle* wall = addTriangle(top, {10, -5, -5}, {10, 5, -5}, {10, 0, 5});
    KdTree* tree = buildTree(top, {-20, -20, -20}, {40, 40, 40});

    // From the world origin along +x: the part's plane is x = 3 in the world.
    HitRecord record;
    EXPECT_NE(0, tree->intersectNearest(Ray{{-4, 0.25f, 0}, {1, 0, 0}}, record, *scratch));
    EXPECT_EQ(localTriangle, record.primitive);
    EXPECT_EQ(&part, record.instance);
    EXPECT_NEAR(7.0f, record.distance, 1e-5f);
    EXPECT_EQ(1, tree->occluded(Ray{{-4, 0.25f, 0}, {1, 0, 0}}, 8.0f, *scratch));
    EXPECT_EQ(0, tree->occluded(Ray{{-4, 0.25f, 0}, {1, 0, 0}}, 6.5f, *scratch));

    // Through the proxy box but beside the part's triangle: the wall behind is hit.
    HitRecord beside;
    EXPECT_NE(0, tree->intersectNearest(Ray{{-4, 1.5f, 1.5f}, {1, 0, 0}}, beside, *scratch));
    EXPECT_EQ(wall, beside.primitive);
    EXPECT_EQ(nullptr, beside.instance);
    EXPECT_FLOAT_EQ(14.0f, beside.distance);
    // A proxy alone never occludes.
    EXPECT_EQ(0, tree->occluded(Ray{{-4, 1.5f, 1.5f}, {1, 0, 0}}, 13.0f, *scratch));
}

TEST_F(TwoLevelScene, CloserTopLevelTriangleBeatsTheInstanceHit) {
    Triangle* front = addTriangle(top, {2, -5, -5}, {2, 5, -5}, {2, 0, 5});
    KdTree* tree = buildTree(top, {-20, -20, -20}, {40, 40, 40});
    HitRecord record;
    EXPECT_NE(0, tree->intersectNearest(Ray{{-4, 0.25f, 0}, {1, 0, 0}}, record, *scratch));
    EXPECT_EQ(front, record.primitive);
    EXPECT_EQ(nullptr, record.instance);
    EXPECT_FLOAT_EQ(6.0f, record.distance);

    // From behind, the instance is nearer than the top-level triangle.
    HitRecord back;
    EXPECT_NE(0, tree->intersectNearest(Ray{{8, 0.25f, 0}, {-1, 0, 0}}, back, *scratch));
    EXPECT_EQ(localTriangle, back.primitive);
    EXPECT_EQ(&part, back.instance);
    EXPECT_NEAR(5.0f, back.distance, 1e-5f);
}

} // namespace
} // namespace Raytracer
