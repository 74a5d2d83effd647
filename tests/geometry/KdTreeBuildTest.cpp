#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "math/FatalError.h"
#include "scene/Scene.h"
#include "scene/Vertex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace Raytracer {
namespace {

constexpr int testPoolCapacity = 100000;

// A scene of triangles over vertices it keeps alive.
struct Soup {
    Scene scene;
    std::deque<Vertex> vertices;

    Soup(const Vector3& boundsMin, const Vector3& boundsSize) {
        scene.boundsMin = boundsMin;
        scene.boundsSize = boundsSize;
    }

    const Triangle* add(const Vector3& a, const Vector3& b, const Vector3& c) {
        Vertex* corners[3];
        int i = 0;
        for (const Vector3* position : {&a, &b, &c}) {
            vertices.emplace_back();
            vertices.back().position = *position;
            corners[i++] = &vertices.back();
        }
        Triangle* triangle = scene.create<Triangle>(Primitive::lit, corners[0], corners[1], corners[2]);
        scene.primitives.push_back(triangle);
        return triangle;
    }

    Box bounds() const { return {scene.boundsMin, scene.boundsSize}; }
};

const Triangle& asTriangle(const Primitive* primitive) {
    return *static_cast<const Triangle*>(primitive);
}

Box leftOf(const Box& box, int axis, float split) {
    Box left = box;
    left.size[axis] = split - box.min[axis];
    return left;
}

Box rightOf(const Box& box, int axis, float split) {
    Box right = box;
    const float hi = box.min[axis] + box.size[axis];
    right.min[axis] = split;
    right.size[axis] = hi - split;
    return right;
}

struct Visit {
    const KdNode* node;
    Box box;
    int depth;
};

// Calls visit for every node, parents before children, left before right, with the node's box.
void forEachNode(const KdTree& tree, const Box& rootBox, const std::function<void(const Visit&)>& visit) {
    std::vector<Visit> stack{{tree.root.get(), rootBox, 0}};
    while (!stack.empty()) {
        const Visit current = stack.back();
        stack.pop_back();
        visit(current);
        if (current.node->isLeaf())
            continue;
        const KdNode* left = tree.pool().node(current.node->reference());
        const int axis = current.node->axis();
        const float split = current.node->split;
        stack.push_back({left + 1, rightOf(current.box, axis, split), current.depth + 1});
        stack.push_back({left, leftOf(current.box, axis, split), current.depth + 1});
    }
}

std::vector<const Primitive*> listOf(const KdTree& tree, const KdNode* leaf) {
    std::vector<const Primitive*> list;
    for (const KdListElement* e = tree.pool().element(leaf->reference()); e != nullptr; e = e->next)
        list.push_back(e->primitive);
    return list;
}

// Every primitive listed in the leaves of the subtree under node.
void collectBelow(const KdTree& tree, const KdNode* node, std::set<const Primitive*>& found) {
    if (node->isLeaf()) {
        for (const Primitive* p : listOf(tree, node))
            found.insert(p);
        return;
    }
    const KdNode* left = tree.pool().node(node->reference());
    collectBelow(tree, left, found);
    collectBelow(tree, left + 1, found);
}

// Splits, axes and leaf lists in order: two trees with the same dump are the same tree.
std::string dump(const KdTree& tree) {
    std::ostringstream out;
    out << std::hexfloat;
    std::function<void(const KdNode*)> write = [&](const KdNode* node) {
        if (node->isLeaf()) {
            out << "L(";
            for (const Primitive* p : listOf(tree, node))
                out << p << ' ';
            out << ')';
            return;
        }
        out << "I" << node->axis() << ' ' << node->split << '[';
        const KdNode* left = tree.pool().node(node->reference());
        write(left);
        write(left + 1);
        out << ']';
    };
    write(tree.root.get());
    return out.str();
}

int deepest(const KdTree& tree, const Box& box) {
    int depth = 0;
    forEachNode(tree, box, [&](const Visit& v) { depth = std::max(depth, v.depth); });
    return depth;
}

int length(const SplitCandidate* list) {
    int n = 0;
    for (; list != nullptr; list = list->next)
        ++n;
    return n;
}

bool extentMeets(const Primitive* p, const Box& box) {
    for (int axis = 0; axis < 3; ++axis) {
        float lo = 0.0f;
        float hi = 0.0f;
        p->extent(lo, hi, axis);
        if (hi < box.min[axis] || lo > box.min[axis] + box.size[axis])
            return false;
    }
    return true;
}

// A triangle a few units across somewhere in [0, grid): integer corners keep every box the build
// makes, and every overlap test on it, exact, so overlap is monotonic in the box.
void addSmallTriangles(Soup& soup, std::mt19937& rng, int count, const Vector3& grid, int spread) {
    auto coordinate = [&](float size) {
        return static_cast<float>(std::uniform_int_distribution<int>(0, static_cast<int>(size))(rng));
    };
    auto near = [&](float centre, float size) {
        const int offset = std::uniform_int_distribution<int>(-spread, spread)(rng);
        return std::clamp(centre + static_cast<float>(offset), 0.0f, size);
    };
    for (int i = 0; i < count; ++i) {
        const Vector3 centre(coordinate(grid.x), coordinate(grid.y), coordinate(grid.z));
        Vector3 corners[3];
        for (Vector3& corner : corners)
            corner = Vector3(near(centre.x, grid.x), near(centre.y, grid.y), near(centre.z, grid.z));
        soup.add(corners[0], corners[1], corners[2]);
    }
}

float halfArea(const Vector3& s) {
    return (s.y + s.z) * s.x + s.y * s.z;
}

// The surface area heuristic's choice for a node over these primitives, written out plainly: exact
// overlap counts for both halves at every distinct corner coordinate in the box. None: a leaf.
std::optional<float> expectedSplit(const std::vector<const Primitive*>& inNode, const Box& box, int axis) {
    const float lo = box.min[axis];
    const float hi = lo + box.size[axis];
    std::set<float> positions;
    for (const Primitive* p : inNode) {
        const Triangle& t = asTriangle(p);
        for (const Vertex* v : {t.a, t.b, t.c})
            if (lo <= v->position[axis] && v->position[axis] <= hi)
                positions.insert(v->position[axis]);
    }
    const float q = 0.5f / halfArea(box.size);
    float best = 10000.0f;
    std::optional<float> split;
    for (const float position : positions) {
        const Box left = leftOf(box, axis, position);
        const Box right = rightOf(box, axis, position);
        int leftCount = 0;
        int rightCount = 0;
        for (const Primitive* p : inNode) {
            leftCount += extentMeets(p, left) && p->overlapsBox(left) ? 1 : 0;
            rightCount += extentMeets(p, right) && p->overlapsBox(right) ? 1 : 0;
        }
        const float cost = (halfArea(right.size) * 2.0f * q * static_cast<float>(rightCount) +
                            halfArea(left.size) * 2.0f * q * static_cast<float>(leftCount)) +
                           0.3f;
        if (cost < best) {
            best = cost;
            split = position;
        }
    }
    if (best > static_cast<float>(inNode.size()))
        return std::nullopt;
    return split;
}

// The invariants every built tree keeps, checked against the exact overlap test on the scene's
// primitives (all inside the bounds, integer corners).
void checkTree(const KdTree& tree, const Soup& soup) {
    const std::vector<Primitive*>& all = soup.scene.primitives;
    std::set<const KdListElement*> elements;
    forEachNode(tree, soup.bounds(), [&](const Visit& v) {
        const Box& box = v.box;
        std::vector<const Primitive*> inNode;
        for (const Primitive* p : all)
            if (v.depth == 0 || (extentMeets(p, box) && p->overlapsBox(box)))
                inNode.push_back(p);
        const int overlapping = static_cast<int>(inNode.size());
        ASSERT_LE(v.depth, tree.maxDepth + 1);
        // The split axis is the longest side of the box, ties to the lower axis.
        const Vector3& s = box.size;
        const int longest = s.x >= s.y && s.x >= s.z ? 0 : (s.y >= s.z ? 1 : 2);
        const std::optional<float> expected = expectedSplit(inNode, box, longest);

        if (!v.node->isLeaf()) {
            const int axis = v.node->axis();
            EXPECT_EQ(longest, axis);
            EXPECT_EQ(expected, std::optional<float>(v.node->split)) << "depth " << v.depth;
            const float split = v.node->split;
            EXPECT_GE(split, box.min[axis]);
            EXPECT_LE(split, box.min[axis] + box.size[axis]);
            bool isCorner = false;
            for (const Primitive* p : all) {
                const Triangle& t = asTriangle(p);
                isCorner = isCorner || t.a->position[axis] == split || t.b->position[axis] == split ||
                           t.c->position[axis] == split;
            }
            EXPECT_TRUE(isCorner) << "split " << split << " is no corner coordinate";
            // Only a node given more than two primitives is split below the root.
            if (v.depth > 0) {
                EXPECT_GT(overlapping, 2) << "inner node at depth " << v.depth;
            }
            return;
        }

        // Below the depth bound, a node given more than two primitives stays a leaf only by its cost.
        if (v.depth <= tree.maxDepth && (v.depth == 0 || overlapping > 2)) {
            EXPECT_EQ(std::nullopt, expected) << "leaf at depth " << v.depth;
        }
        const std::vector<const Primitive*> list = listOf(tree, v.node);
        const std::set<const Primitive*> listed(list.begin(), list.end());
        EXPECT_EQ(list.size(), listed.size()) << "a leaf lists a primitive twice";
        for (const Primitive* p : list) {
            EXPECT_TRUE(extentMeets(p, box))
                << "leaf at depth " << v.depth << " lists a primitive outside it";
            EXPECT_TRUE(p->overlapsBox(box));
        }
        for (const Primitive* p : all)
            if (p->overlapsBox(box)) {
                EXPECT_EQ(1u, listed.count(p)) << "leaf at depth " << v.depth << " misses one";
            }
        EXPECT_EQ(static_cast<std::size_t>(overlapping), list.size());
        for (const KdListElement* e = tree.pool().element(v.node->reference()); e != nullptr; e = e->next)
            EXPECT_TRUE(elements.insert(e).second) << "two leaves share a list element";
    });
}

TEST(KdTreeBuild, NewTreeIsAnEmptyLeafWithDefaultDepthBound) {
    KdPool pool(testPoolCapacity);
    KdTree tree(pool);
    EXPECT_EQ(KdNode::freshLeaf, tree.root->link);
    EXPECT_EQ(60, tree.maxDepth);
    EXPECT_TRUE(tree.candidateStore.empty());
    EXPECT_EQ(&pool, &tree.pool());
}

TEST(KdTreeBuild, EmptySceneLeavesAnEmptyRootLeaf) {
    KdPool pool(testPoolCapacity);
    KdTree tree(pool);
    Scene scene;
    tree.build(scene);
    EXPECT_EQ(&scene, tree.scene());
    EXPECT_TRUE(tree.root->isLeaf());
    EXPECT_EQ(0u, tree.root->reference());
    EXPECT_EQ(0, pool.taken);
}

TEST(KdTreeBuild, NoCandidateInsideTheNodeKeepsItALeafInReverseArrayOrder) {
    // Every corner lies outside [0, 4] on x, the longest side: every triangle spans the node there.
    Soup soup({0, 0, 0}, {4, 2, 2});
    for (int i = 0; i < 6; ++i) {
        const float y = 0.25f * static_cast<float>(i);
        soup.add({-1, y, 0.5f}, {5, y + 0.5f, 1}, {-2, y, 1.5f});
    }
    KdPool pool(testPoolCapacity);
    KdTree tree(pool);
    tree.build(soup.scene);

    ASSERT_TRUE(tree.root->isLeaf());
    EXPECT_EQ(0, tree.root->axis());
    EXPECT_EQ(nullptr, tree.candidates);
    const std::vector<const Primitive*> list = listOf(tree, tree.root.get());
    const std::vector<const Primitive*> reversed(soup.scene.primitives.rbegin(),
                                                 soup.scene.primitives.rend());
    EXPECT_EQ(reversed, list);
}

TEST(KdTreeBuild, SharedCornerCoordinateGivesOneCandidate) {
    // x is the split axis (ties go to x); both triangles have corners at x = 1, one of them twice.
    Soup soup({0, 0, 0}, {3, 3, 1});
    soup.add({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    soup.add({1, 2, 0}, {3, 2, 1}, {1, 3, 0});
    KdPool pool(testPoolCapacity);
    KdTree tree(pool);
    tree.build(soup.scene);

    // Children of two or fewer primitives are not split, so the root's candidates are still current.
    std::set<float> corners;
    for (const Primitive* p : soup.scene.primitives) {
        const Triangle& t = asTriangle(p);
        for (const Vertex* v : {t.a, t.b, t.c})
            corners.insert(v->position.x);
    }
    std::vector<float> positions;
    for (const SplitCandidate* c = tree.candidates; c != nullptr; c = c->next)
        positions.push_back(c->position);
    EXPECT_EQ(std::vector<float>(corners.begin(), corners.end()), positions);
    // The entry of a duplicate goes back: none is lost from the store.
    EXPECT_EQ(static_cast<int>(tree.candidateStore.size()) - 1,
              length(tree.candidates) + length(tree.freeCandidates));
}

TEST(KdTreeBuild, TriangleInTheSplitPlaneGoesToBothChildren) {
    // One triangle in each plane x = 0 .. 8: whichever candidate wins, a triangle lies in the plane.
    Soup soup({0, 0, 0}, {8, 1, 1});
    std::vector<const Triangle*> inPlane;
    for (int k = 0; k <= 8; ++k) {
        const float x = static_cast<float>(k);
        inPlane.push_back(soup.add({x, 0, 0}, {x, 1, 0}, {x, 0, 1}));
    }
    KdPool pool(testPoolCapacity);
    KdTree tree(pool);
    tree.build(soup.scene);

    ASSERT_FALSE(tree.root->isLeaf());
    EXPECT_EQ(0, tree.root->axis());
    const float split = tree.root->split;
    ASSERT_GT(split, 0.0f);
    ASSERT_LT(split, 8.0f);

    std::set<const Primitive*> left;
    std::set<const Primitive*> right;
    const KdNode* leftChild = pool.node(tree.root->reference());
    collectBelow(tree, leftChild, left);
    collectBelow(tree, leftChild + 1, right);
    for (const Triangle* t : inPlane) {
        const float x = t->a->position.x;
        EXPECT_EQ(x <= split, left.count(t) == 1) << "triangle at x = " << x;
        EXPECT_EQ(x >= split, right.count(t) == 1) << "triangle at x = " << x;
    }
}

TEST(KdTreeBuild, ChildWithTwoPrimitivesIsNotSubdivided) {
    // Ten triangles crowd the far end of a long thin box; the two lone ones in the middle, far apart,
    // would be worth splitting on their own.
    Soup soup({0, 0, 0}, {128, 1, 1});
    const Triangle* lone1 = soup.add({40, 0, 0}, {41, 0, 0}, {40, 1, 1});
    const Triangle* lone2 = soup.add({60, 1, 0}, {61, 1, 1}, {60, 0, 1});
    for (int i = 0; i < 10; ++i) {
        const float x = 120.0f + static_cast<float>(i % 7);
        soup.add({x, 0, 0}, {x + 1, 1, 0}, {x, 0, 1});
    }
    KdPool pool(testPoolCapacity);
    KdTree tree(pool);
    tree.build(soup.scene);
    checkTree(tree, soup);

    // Find the leaf that holds the two lone triangles.
    const KdNode* pairLeaf = nullptr;
    Box pairBox{};
    forEachNode(tree, soup.bounds(), [&](const Visit& v) {
        if (!v.node->isLeaf())
            return;
        const std::vector<const Primitive*> list = listOf(tree, v.node);
        if (std::count(list.begin(), list.end(), lone1) == 1 &&
            std::count(list.begin(), list.end(), lone2) == 1) {
            pairLeaf = v.node;
            pairBox = v.box;
        }
    });
    ASSERT_NE(nullptr, pairLeaf);
    ASSERT_NE(tree.root.get(), pairLeaf);
    EXPECT_EQ(2u, listOf(tree, pairLeaf).size());

    // The same two triangles as a root of their own in that box are split: only the count held it back.
    Soup pair(pairBox.min, pairBox.size);
    pair.add(lone1->a->position, lone1->b->position, lone1->c->position);
    pair.add(lone2->a->position, lone2->b->position, lone2->c->position);
    KdTree alone(pool);
    alone.build(pair.scene);
    EXPECT_FALSE(alone.root->isLeaf());
}

TEST(KdTreeBuild, DepthBoundStopsSplittingOneLevelBelowIt) {
    Soup soup({0, 0, 0}, {64, 64, 64});
    std::mt19937 rng(7);
    addSmallTriangles(soup, rng, 300, {64, 64, 64}, 1);
    KdPool pool(testPoolCapacity);

    KdTree unbounded(pool);
    unbounded.build(soup.scene);
    const int natural = deepest(unbounded, soup.bounds());

    for (int bound : {0, 1, 3, 5}) {
        ASSERT_GT(natural, bound + 1) << "the scene must be deep enough for the bound to matter";
        KdTree tree(pool);
        tree.maxDepth = bound;
        tree.build(soup.scene);
        EXPECT_EQ(bound + 1, deepest(tree, soup.bounds())) << "maxDepth " << bound;
        checkTree(tree, soup);
    }
}

TEST(KdTreeBuild, BuiltTreesAreCompleteAndSound) {
    const Vector3 grids[] = {{32, 32, 32}, {40, 16, 24}, {8, 30, 30}, {12, 12, 40}};
    const int counts[] = {1, 2, 3, 4, 7, 20, 60, 150};
    unsigned seed = 1;
    for (const Vector3& grid : grids) {
        for (int count : counts) {
            for (int spread : {1, 3, 12}) {
                SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << count << " triangles");
                Soup soup({0, 0, 0}, grid);
                std::mt19937 rng(seed++);
                addSmallTriangles(soup, rng, count, grid, spread);
                KdPool pool(testPoolCapacity);
                KdTree tree(pool);
                tree.build(soup.scene);
                checkTree(tree, soup);
                if (HasFatalFailure() || HasNonfatalFailure())
                    return;
            }
        }
    }
}

TEST(KdTreeBuild, RebuildsGiveTheSameTreeInConstantPoolSpace) {
    constexpr int capacity = 20000;
    KdPool pool(capacity);

    // Load time: an object-level tree, then the top-level tree, as the scene loader builds them.
    Soup object({0, 0, 0}, {16, 16, 16});
    std::mt19937 rng(11);
    addSmallTriangles(object, rng, 40, {16, 16, 16}, 2);
    KdTree objectTree(pool);
    objectTree.build(object.scene);
    const std::string objectDump = dump(objectTree);

    Soup top({-3.5f, 0.25f, -1}, {10.5f, 6.75f, 9});
    std::uniform_real_distribution<float> jitter(-0.6f, 0.6f);
    for (int i = 0; i < 24; ++i) {
        const Vector3 centre(-3.0f + 0.4f * static_cast<float>(i), 0.5f + 0.25f * static_cast<float>(i % 7),
                             static_cast<float>(i % 5));
        top.add(centre + Vector3(jitter(rng), jitter(rng), jitter(rng)),
                centre + Vector3(jitter(rng), jitter(rng), jitter(rng)),
                centre + Vector3(jitter(rng), jitter(rng), jitter(rng)));
    }
    pool.setMark();
    KdTree topTree(pool);
    topTree.build(top.scene);
    const std::string first = dump(topTree);
    ASSERT_FALSE(topTree.root->isLeaf());

    pool.setBase();
    const int nodesAtBase = pool.nodesInUse();
    int nodes = 0;
    int highWater = 0;
    constexpr int frames = 2000;
    for (int frame = 0; frame < frames; ++frame) {
        pool.reset();
        topTree.makeRootEmpty();
        topTree.build(top.scene);
        ASSERT_EQ(first, dump(topTree)) << "frame " << frame;
        if (frame == 0) {
            nodes = pool.nodesInUse();
            highWater = pool.elementHighWater();
            // Without the rewind the frames would need more nodes than the pool has.
            ASSERT_GT(static_cast<long>(nodes - nodesAtBase) * frames, capacity);
        }
        ASSERT_EQ(nodes, pool.nodesInUse()) << "frame " << frame;
        ASSERT_EQ(highWater, pool.elementHighWater()) << "frame " << frame;
    }
    EXPECT_EQ(objectDump, dump(objectTree));
}

TEST(KdTreeBuild, LaterBiggerBuildGrowsTheScratch) {
    KdPool pool(testPoolCapacity);
    KdTree tree(pool);
    Soup small({0, 0, 0}, {4, 4, 4});
    small.add({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    small.add({3, 3, 3}, {4, 3, 3}, {3, 4, 3});
    small.add({1, 2, 3}, {2, 2, 3}, {1, 3, 3});
    tree.build(small.scene);

    // 3N distinct corner coordinates on the split axis, all inside the root's box.
    constexpr int count = 40;
    Soup big({0, 0, 0}, {3 * count, 4, 4});
    for (int k = 0; k < count; ++k) {
        const float x = 3.0f * static_cast<float>(k);
        const float y = static_cast<float>(k % 4);
        big.add({x, y, 0}, {x + 1, y, 4}, {x + 2, y + 1, 2});
    }
    pool.setBase();
    pool.reset();
    tree.makeRootEmpty();
    tree.build(big.scene);
    checkTree(tree, big);
    EXPECT_GE(tree.scratchPrimitives.size(), static_cast<std::size_t>(count));
    EXPECT_GE(tree.candidateStore.size(), static_cast<std::size_t>(3 * count + 1));

    KdTree fresh(pool);
    fresh.build(big.scene);
    EXPECT_EQ(dump(fresh), dump(tree));

    // And back to the small scene: the grown scratch serves a smaller build.
    tree.makeRootEmpty();
    tree.build(small.scene);
    checkTree(tree, small);
}

TEST(KdTreeBuild, EveryCornerCoordinateDistinctFitsTheCandidateStore) {
    constexpr int count = 30;
    Soup soup({0, 0, 0}, {3 * count, 2, 2});
    for (int k = 0; k < count; ++k) {
        const float x = 3.0f * static_cast<float>(k);
        soup.add({x + 2, 0, 0}, {x, 2, 1}, {x + 1, 1, 2});
    }
    KdPool pool(testPoolCapacity);
    KdTree tree(pool);
    tree.build(soup.scene);
    checkTree(tree, soup);
    EXPECT_EQ(static_cast<int>(tree.candidateStore.size()) - 1,
              length(tree.candidates) + length(tree.freeCandidates));
}

TEST(KdTreeBuild, RunningOutOfElementsThrowsInsteadOfCorrupting) {
    Soup soup({0, 0, 0}, {32, 32, 32});
    std::mt19937 rng(3);
    addSmallTriangles(soup, rng, 100, {32, 32, 32}, 2);
    KdPool pool(64);
    KdTree tree(pool);
    try {
        tree.build(soup.scene);
        FAIL() << "a build over more primitives than the pool holds succeeded";
    } catch (const FatalError& error) {
        EXPECT_EQ(std::string::npos, std::string(error.what()).find('\n'));
    }
}

TEST(KdTreeBuild, RunningOutOfNodesThrowsInsteadOfCorrupting) {
    Soup soup({0, 0, 0}, {32, 32, 32});
    std::mt19937 rng(5);
    addSmallTriangles(soup, rng, 100, {32, 32, 32}, 1);
    constexpr int capacity = 4000;
    KdPool pool(capacity);
    // Leave a single pair: elements are plentiful, nodes are not.
    while (pool.nodesInUse() + 4 <= capacity)
        pool.takePair();
    KdTree tree(pool);
    try {
        tree.build(soup.scene);
        FAIL() << "a build that needs more node pairs than are left succeeded";
    } catch (const FatalError& error) {
        const std::string line = error.what();
        EXPECT_EQ(std::string::npos, line.find('\n'));
        EXPECT_NE(std::string::npos, line.find("node")) << line;
    }
    EXPECT_LE(pool.nodesInUse(), capacity);
}

} // namespace
} // namespace Raytracer
