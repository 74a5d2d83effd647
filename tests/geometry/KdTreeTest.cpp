#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/TraversalScratch.h"
#include "geometry/Triangle.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "geometry/Vertex.h"
#include "tests/support/RandomScene.h"
#include "tests/support/ShippedScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

namespace Raytracer {
namespace {

// With integer corners every overlap test is exact, so each node holds exactly those of its parent's
// primitives that overlap its box, and a leaf lists them. The root may always split, a deeper node only
// with more than two primitives and no deeper than maxDepth, on its box's longest axis (ties to the lower).
void checkNode(const KdTree& tree, const KdNode* node, const Box& box, int depth,
               std::vector<const Primitive*> in) {
    if (!node->isLeaf()) {
        const Vector3& s = box.size;
        ASSERT_TRUE(depth == 0 || (in.size() > 2 && depth <= tree.maxDepth)) << "depth " << depth;
        ASSERT_EQ(s.x >= s.y && s.x >= s.z ? 0 : (s.y >= s.z ? 1 : 2), node->axis());
        const int a = node->axis();
        for (const bool upper : {false, true}) {
            Box child = box; // cut as the build cuts it
            child.size[a] = upper ? box.min[a] + box.size[a] - node->split : node->split - box.min[a];
            child.min[a] = upper ? node->split : box.min[a];
            std::vector<const Primitive*> overlapping;
            std::copy_if(in.begin(), in.end(), std::back_inserter(overlapping),
                         [&](const Primitive* p) { return p->overlapsBox(child); });
            checkNode(tree, tree.pool().node(node->reference()) + upper, child, depth + 1, overlapping);
        }
        return;
    }
    std::vector<const Primitive*> listed;
    for (const KdListElement* e = tree.pool().element(node->reference()); e != nullptr; e = e->next)
        listed.push_back(e->primitive);
    std::sort(in.begin(), in.end());
    std::sort(listed.begin(), listed.end());
    ASSERT_EQ(in, listed) << "depth " << depth;
}

// Soups of small triangles, a few deep enough for a depth bound of 1 to stop them, after an empty one.
// One tree for all, so that the first build finds no scratch and a later, bigger one must grow it.
TEST(KdTree, BuildListsEveryOverlappingPrimitiveInItsLeaves) {
    KdPool pool(400000);
    KdTree tree(pool);
    std::mt19937 random(1);
    const auto integer = [&](float n) { return static_cast<float>(random() % static_cast<unsigned>(n + 1)); };
    const auto point = [&](const Vector3& n) { return Vector3(integer(n.x), integer(n.y), integer(n.z)); };
    const Vector3 grids[] = {{32, 32, 32}, {40, 16, 24}, {8, 30, 30}};
    for (int build = 0; build < 21; ++build) {
        const int count = std::array{0, 2, 3, 40, 150, 7, 60}[build / 3];
        const Vector3 d = Vector3(1, 1, 1) * std::array{1.0f, 3.0f, 8.0f}[build % 3]; // the spread
        Scene scene;
        scene.boundsSize = grids[build % 3];
        for (int i = 0; i < count; ++i) {
            const Vector3 base = point(scene.boundsSize - d);
            addTriangle(scene, base + point(d), base + point(d), base + point(d));
        }
        tree.maxDepth = build % 2 == 0 ? 1 : KdTree::defaultMaxDepth;
        tree.makeRootEmpty();
        tree.build(scene);
        SCOPED_TRACE(testing::Message() << count << " triangles, spread " << d.x);
        checkNode(tree, tree.root.get(), {{}, scene.boundsSize}, 0,
                  {scene.primitives.begin(), scene.primitives.end()});
        if (HasFailure())
            return;
    }
}

// Forty triangles at one distance in one leaf, each listed beside a triangle of another dominant axis:
// packets regroup the leaf by axis and a leaf has more hits than its walk sorts at once, yet the hit is
// the first of the equals in the leaf's list, the last one added.
TEST(KdTree, EqualHitsInALeafGoToTheFirstInItsList) {
    KdPool pool(10000);
    Scene scene;
    scene.boundsMin = {-2, -2, -2};
    scene.boundsSize = {4, 4, 4};
    for (int i = 0; i < 40; ++i) {
        addTriangle(scene, {-1, -1, 0}, {1, -1, 0}, {0, 1, 0});
        addTriangle(scene, {-1, 0, -1}, {1, 0, -1}, {0, 0, 1});
    }
    KdTree tree(pool);
    tree.build(scene);
    ASSERT_TRUE(tree.root->isLeaf());
    const auto scratch = std::make_unique<TraversalScratch>();
    HitRecord record;
    EXPECT_NE(0, tree.intersectNearest(Ray{{0.1f, 0.2f, 5}, {0, 0, -1}}, record, *scratch));
    EXPECT_EQ(5.0f, record.distance);
    EXPECT_EQ(scene.primitives[78], record.primitive);
}

// A triangle lying in a face of a cell, as a proxy box's side lies in the bounds: the root splits at the
// other triangle's near end, and the cell beyond the split keeps the wall although the rounded centre
// and half size of the cell's box put its face a unit in the last place off the wall. The ray starts in
// that cell and runs straight to the wall.
TEST(KdTree, AWallInACellFaceStaysInTheCell) {
    struct Case {
        float low, split, high; // bounds and split on x
        bool wallAtHigh;
    };
    for (const Case& c : {Case{0.1f, 1.0f, 10.0f, false}, Case{0.1f, 0.5f, 10.0f, false},
                          Case{-110.1f, -102.002f, 1.9f, false}, Case{0.0f, 9.0f, 9.3f, true}}) {
        SCOPED_TRACE(testing::Message() << c.low << " " << c.split << " " << c.high);
        KdPool pool(10000);
        Scene scene;
        scene.boundsMin = {c.low, 0, 0};
        scene.boundsSize = {c.high - c.low, 4, 4};
        const float wall = c.wallAtHigh ? c.high : c.low;
        const float far = c.wallAtHigh ? c.low + 0.5f : c.high - 0.5f; // other's end away from the wall
        addTriangle(scene, {wall, 0.5f, 0.5f}, {wall, 3.5f, 0.5f}, {wall, 0.5f, 3.5f});
        addTriangle(scene, {c.split, 1, 1}, {far, 3, 1}, {c.split, 1, 3});
        KdTree tree(pool);
        tree.build(scene);
        ASSERT_FALSE(tree.root->isLeaf());
        ASSERT_EQ(c.split, tree.root->split);
        const float start = (wall + c.split) * 0.5f;
        const auto scratch = std::make_unique<TraversalScratch>();
        HitRecord record;
        EXPECT_NE(0, tree.intersectNearest(Ray{{start, 1, 1}, {c.wallAtHigh ? 1.0f : -1.0f, 0, 0}}, record, *scratch));
        EXPECT_EQ(scene.primitives[0], record.primitive);
    }
}

// Rotated and translated instances behind proxies, posed on a ring in a 4-frame cycle with the top-level
// tree rebuilt every frame as the animation does: pool use repeats with the cycle instead of growing. No
// pose is the identity. One part is large, so its tree is built on several threads in a pool of its own
// and kept only flat. Then nearest hits and shadow rays against trying every triangle, those of
// the parts with the ray carried into their frames as the traversal carries it. Rays come from outside
// every proxy, every other one also from outside the top-level box.
TEST(KdTree, QueriesAgreeWithBruteForceAfterRebuildsInFlatPoolSpace) {
    KdPool pool(400000);
    Scene top;
    RandomScene scene(top, pool, 99);
    for (int i = 0; i < 12; ++i) // the first past keptScratchLimit, kept only in its flat form
        i == 0 ? scene.addPart(KdTree::keptScratchLimit + 600, 0.04f) : scene.addPart(150);
    scene.addTopLevelTriangles(200);
    scene.buildTopLevel();
    pool.setBase();
    int nodes[4], highWater = 0;
    for (int frame = 0; frame < 12; ++frame) {
        for (int i = 0; i < 12; ++i) { // turned by 2a about the unit axis (0.6, 0.8 cos a, 0.8 sin a)
            const float a = static_cast<float>(i) + 0.7f * static_cast<float>(frame % 4) + 0.3f,
                        c = std::cos(a), s = std::sin(a);
            scene.pose(*scene.parts()[i], Vector3(9 * c, 2.0f * i - 11, 9 * s),
                       Quaternion(c, 0.6f * s, 0.8f * s * c, 0.8f * s * s));
        }
        pool.reset();
        scene.buildTopLevel();
        nodes[frame % 4] = frame < 4 ? pool.nodesInUse() : nodes[frame % 4];
        highWater = frame < 4 ? pool.elementHighWater() : highWater;
        ASSERT_EQ(nodes[frame % 4], pool.nodesInUse()) << "frame " << frame;
        ASSERT_EQ(highWater, pool.elementHighWater()) << "frame " << frame;
    }

    const auto& tree = static_cast<const KdTree&>(*top.accelerator);
    const auto scratch = std::make_unique<TraversalScratch>();
    int instanceHits = 0;
    for (int r = 0; r < 3000 && !HasFailure(); ++r) {
        SCOPED_TRACE(testing::Message() << "ray " << r);
        Ray ray = scene.randomRay();
        ray.origin = ray.origin * (r % 2 != 0 ? 1.5f : 1.0f);
        float nearest = 10000.0f, u, v;
        const auto consider = [&](const Primitive* p, const Ray& local) {
            float t = nearest;
            nearest = p->intersect(local, t, u, v) != 0 ? t : nearest;
        };
        for (const Primitive* p : top.primitives)
            if (p->type != Primitive::proxy)
                consider(p, ray);
        for (const SceneObject* proxy : scene.parts()) {
            const Ray local{proxy->rotation.inverseRotate(ray.origin - proxy->position),
                            normalize(proxy->rotation.inverseRotate(ray.direction))};
            for (const Primitive* p : proxy->instance->primitives)
                consider(p, local);
        }
        HitRecord record;
        EXPECT_EQ(nearest < 10000.0f, tree.intersectNearest(ray, record, *scratch) != 0);
        EXPECT_EQ(nearest, record.distance);
        for (const float limit : {nearest * 0.999f, std::min(nearest * 1.001f + 1e-3f, 10000.0f)})
            EXPECT_EQ(limit > nearest, tree.occluded(ray, limit, *scratch) != 0) << "limit " << limit;
        instanceHits += record.instance != nullptr;
    }
    EXPECT_GT(instanceHits, 200);
}

// Packets of four walked together answer as each ray walked alone, bit for bit: coherent fans from a
// few eyes (whole packets), rays scattered at random (lanes that point other ways walk alone), and
// shadow rays from the hits with limits just short of and beyond them, in the animated shipped scene.
TEST(KdTree, PacketsAnswerAsSingleRaysDo) {
    ShippedScene shipped;
    for (int frame = 0; frame < 25; ++frame)
        shipped.step();
    const auto& tree = static_cast<const KdTree&>(*shipped.scene.accelerator);
    const auto scratch = std::make_unique<TraversalScratch>();
    std::mt19937 random(5);
    const auto uniform = [&](float low, float high) {
        return std::uniform_real_distribution<float>(low, high)(random);
    };
    constexpr int count = 4096;
    std::vector<Ray> rays;
    for (int fan = 0; rays.size() < count; ++fan) {
        const Vector3 eye(uniform(-60, 60), uniform(2, 50), uniform(-90, -20));
        const Vector3 aim = normalize(Vector3(uniform(-30, 30), uniform(0, 20), uniform(-30, 30)) - eye);
        const float spread = fan % 3 == 2 ? 2.0f : 0.004f; // the last of three fans is scattered
        for (int i = 0; i < 64; ++i)
            rays.push_back({eye, normalize(aim + Vector3(static_cast<float>(i % 8) - 3.5f,
                                                                  static_cast<float>(i / 8) - 3.5f,
                                                                  uniform(-0.5f, 0.5f)) * spread)});
    }
    std::vector<HitRecord> records(count);
    std::vector<int> facings(count);
    tree.intersectNearest(rays.data(), records.data(), facings.data(), count, *scratch);
    std::vector<Ray> shadows;
    std::vector<float> limits;
    int hits = 0;
    for (int i = 0; i < count && !HasFailure(); ++i) {
        HitRecord alone;
        EXPECT_EQ(tree.intersectNearest(rays[i], alone, *scratch), facings[i]) << "ray " << i;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(alone.distance), std::bit_cast<std::uint32_t>(records[i].distance));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(alone.u), std::bit_cast<std::uint32_t>(records[i].u));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(alone.v), std::bit_cast<std::uint32_t>(records[i].v));
        EXPECT_EQ(alone.primitive, records[i].primitive);
        EXPECT_EQ(alone.instance, records[i].instance);
        if (facings[i] == 0)
            continue;
        ++hits;
        const Vector3 p = rays[i].origin + rays[i].direction * alone.distance;
        const Vector3 light(uniform(-40, 40), 80, uniform(-40, 40));
        const Vector3 toLight = light - p;
        const float length = std::sqrt(dot(toLight, toLight));
        shadows.push_back({p + toLight * (0.001f / length), toLight * (1.0f / length)});
        limits.push_back(length);
        shadows.push_back({rays[i].origin, rays[i].direction});
        limits.push_back(alone.distance * (i % 2 != 0 ? 0.999f : 1.001f));
    }
    EXPECT_GT(hits, count / 2);
    std::vector<int> blocked(shadows.size());
    tree.occluded(shadows.data(), limits.data(), blocked.data(), static_cast<int>(shadows.size()), *scratch);
    for (std::size_t i = 0; i < shadows.size() && !HasFailure(); ++i)
        EXPECT_EQ(tree.occluded(shadows[i], limits[i], *scratch), blocked[i]) << "shadow ray " << i;
}

// Every tree of the shipped scene, as loaded and after animated frames, hashed node by node (axis,
// split bits, leaf lists as primitive indices in list order). A faster build must give these very
// trees, not merely trees that answer alike.
std::uint64_t treeDigest(const KdTree& tree, const SceneGeometry& scene) {
    std::unordered_map<const Primitive*, std::uint64_t> index;
    for (std::size_t i = 0; i < scene.primitives.size(); ++i) {
        index[scene.primitives[i]] = i;
    }
    std::uint64_t hash = 0xcbf29ce484222325ull;
    const auto mix = [&](std::uint64_t word) { hash = (hash ^ word) * 0x100000001b3ull; };
    std::vector<const KdNode*> pending{tree.root.get()};
    while (!pending.empty()) {
        const KdNode* node = pending.back();
        pending.pop_back();
        if (node->isLeaf()) {
            mix(0xFFFFFFFFu);
            for (const KdListElement* e = tree.pool().element(node->reference()); e != nullptr; e = e->next) {
                mix(index.at(e->primitive));
            }
            continue;
        }
        mix(static_cast<std::uint64_t>(node->axis()));
        mix(std::bit_cast<std::uint32_t>(node->split));
        const KdNode* left = tree.pool().node(node->reference());
        pending.push_back(left + 1);
        pending.push_back(left);
    }
    return hash;
}

TEST(KdTree, ShippedSceneTreesAreTheRecordedOnes) {
    ShippedScene shipped;
    const Scene& scene = shipped.scene;
    const auto digest = [&] {
        const auto& top = static_cast<const KdTree&>(*scene.accelerator);
        std::uint64_t all = treeDigest(top, scene);
        for (const Primitive* p : scene.primitives) {
            if (p->type == Primitive::proxy) {
                all = all * 31 + treeDigest(static_cast<const KdTree&>(*p->owner->instance->accelerator),
                                            *p->owner->instance);
            }
        }
        return all;
    };
    EXPECT_EQ(0xfc2db56bb916606du, digest());
    for (int frame = 0; frame < 40; ++frame) {
        shipped.step();
    }
    EXPECT_EQ(0x27394296667df0e0u, digest());
}

// Soups that meet the build's exact cases: corners on a few shared coordinates (both zeros, the scene's
// bounds and one step beyond them among them), triangles lying in planes at those coordinates,
// degenerate ones, large ones crossing many cells and small ones; one soup off the origin, where
// rounding puts corners on and off the bounds. The digests were recorded with the first, slow build,
// and again once triangles lying in a cell's face stayed in the cell.
TEST(KdTree, SoupTreesAreTheRecordedOnes) {
    struct Soup {
        unsigned seed;
        int triangles;
        float step, lift;
        std::uint64_t digest;
    };
    for (const Soup& soup :
         {Soup{1, 300, 1.0f, 0.0f, 0x1ea6a69a984a4817u}, Soup{2, 1200, 0.37f, 0.0f, 0x9f3bdc24c6e7e671u},
          Soup{3, 2500, 0.1f, 0.0f, 0x4d2947ba327f556du}, Soup{4, 1500, 0.1f, 2.3f, 0xcc439f5877950788u}}) {
        std::mt19937 random(soup.seed);
        std::uniform_real_distribution<float> anywhere(-8 * soup.step, 8 * soup.step);
        const auto shared = [&] {
            const float v = soup.step * static_cast<float>(static_cast<int>(random() % 19) - 9);
            return v == 0.0f && random() % 2 == 0 ? -0.0f : v;
        };
        const auto point = [&](bool onShared) {
            const auto coordinate = [&] { return onShared ? shared() : anywhere(random); };
            const float x = coordinate(), y = coordinate();
            return Vector3(x, y, coordinate());
        };
        const auto lifted = [&](const Vector3& p) {
            return soup.lift == 0.0f ? p : p + Vector3(1, 1, 1) * soup.lift;
        };
        KdPool pool(1000000);
        Scene scene;
        scene.boundsMin = lifted(Vector3(-8, -8, -8) * soup.step);
        scene.boundsSize = Vector3(16, 16, 16) * soup.step;
        for (int i = 0; i < soup.triangles; ++i) {
            const int kind = i % 4;
            Vector3 a = point(kind == 0), b = point(kind == 0), c = point(kind == 0);
            if (kind == 1) // in a plane at a shared coordinate
                a[i % 3] = b[i % 3] = c[i % 3] = shared();
            if (kind == 2) // degenerate: a repeated corner, or three corners on a line
                c = i % 8 == 2 ? a : a + (b - a) * 0.5f;
            if (kind == 3) { // small
                a = a * 0.9f;
                b = a + point(false) * 0.05f;
                c = a + point(false) * 0.05f;
            }
            addTriangle(scene, lifted(a), lifted(b), lifted(c));
        }
        KdTree tree(pool);
        tree.build(scene);
        EXPECT_EQ(soup.digest, treeDigest(tree, scene)) << "seed " << soup.seed;
    }
}

// The form the walks read, word by word: every flat node's link and split or packet count, and every
// packet's axis, count, group and its lanes' places and planes.
std::vector<std::uint32_t> flatForm(const KdTree& tree) {
    std::vector<std::uint32_t> words;
    for (const KdFlatNode& node : tree.flatNodes) {
        words.push_back(node.link);
        words.push_back(std::bit_cast<std::uint32_t>(node.split));
    }
    for (std::size_t i = 0; i < tree.packets.size(); ++i) {
        const TrianglePacket& packet = tree.packets[i];
        words.insert(words.end(), {static_cast<std::uint32_t>(packet.axis), static_cast<std::uint32_t>(packet.count),
                                   static_cast<std::uint32_t>(packet.group)});
        for (int lane = 0; lane < TrianglePacket::lanes; ++lane) {
            words.push_back(static_cast<std::uint32_t>(tree.packetLanes[i].order[lane]));
            words.push_back(std::bit_cast<std::uint32_t>(packet.planeDist[lane]));
        }
    }
    return words;
}

// Seeded meshes of every shape, each built twice: answers found by bounds over runs of candidates and
// sure ranges from the corners too, built and flattened on several threads, in a pool of 8-entry blocks
// that grows all the while; and every window tested at every candidate, the windows narrowed by the
// points inside the node alone, on one thread. The trees and their flat forms must be the very same: the corners' margins keep above the float
// test's rounding and the bounds hold it, so no case needs a brute-force fallback. Slivers (a pole
// fan), degenerate triangles (repeated corners and corners on a line), axis-aligned ones on a grid
// (corners on the split planes, faces in the cells' faces, where rounding flips the test back and
// forth) and random ones, inside bounds of the scene's size and off the origin.
TEST(KdTree, BoundedRunsGiveTheTreesOfTestingEveryCandidate) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const auto around = [&](float r) { return Vector3(unit(random), unit(random), unit(random)) * r; };
    for (int shape = 0; shape < 8; ++shape) {
        Scene scene;
        scene.boundsMin = shape < 4 ? Vector3(-240, -240, -240) : Vector3(-3.5f, -3.5f, -3.5f) + around(0.4f);
        scene.boundsSize = shape < 4 ? Vector3(480, 480, 480) : Vector3(7, 7, 7);
        for (int i = 0; i < 1500; ++i) {
            const Vector3 base = around(2.5f);
            const float a = 0.0042f * static_cast<float>(i), w = 0.0042f * (1.0f + 1e-3f * unit(random));
            const Vector3 pole(0, 3, 0), ring(std::cos(a), 2.9f, std::sin(a)), next(std::cos(a + w), 2.9f, std::sin(a + w));
            const auto grid = [&] { return Vector3(std::round(base.x), std::round(base.y * 2) * 0.5f, std::round(unit(random))); };
            switch ((shape + i) % 4) {
            case 0: addTriangle(scene, pole, ring * 0.3f + base * 0.01f, next * 0.3f + base * 0.01f); break;
            case 1: {
                const Vector3 b = base + around(0.5f);
                addTriangle(scene, base, b, i % 8 < 4 ? base : base + (b - base) * 0.25f);
                break;
            }
            case 2: {
                const Vector3 g = grid();
                const int axis = i % 3;
                Vector3 b = g, c = g;
                b[(axis + 1) % 3] += 1.0f;
                c[(axis + 2) % 3] += 0.5f;
                addTriangle(scene, g, b, c);
                break;
            }
            default: addTriangle(scene, base, base + around(0.3f), base + around(0.3f));
            }
        }
        KdPool blocks(8), whole;
        KdTree fast(blocks), plain(whole);
        fast.longWindows = 16; // runs of candidates resolved by halving in soups this small too
        fast.parallelPrimitives = 64; // and nodes and subtrees shared among threads
        plain.longWindows = std::numeric_limits<std::int32_t>::max();
        plain.parallelPrimitives = std::numeric_limits<std::int32_t>::max();
        plain.cornerRanges = false;
        fast.build(scene);
        plain.build(scene);
        EXPECT_EQ(treeDigest(plain, scene), treeDigest(fast, scene)) << "shape " << shape;
        EXPECT_EQ(flatForm(plain), flatForm(fast)) << "shape " << shape;
        EXPECT_GT(blocks.nodesInUse(), 64) << "shape " << shape;
    }
}

} // namespace
} // namespace Raytracer
