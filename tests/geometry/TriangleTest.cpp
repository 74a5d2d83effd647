#include "geometry/Triangle.h"
#include "scene/Scene.h"
#include "geometry/Vertex.h"
#include "tests/support/RandomScene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Raytracer {
namespace {

// Form f of a case: axes cycled by f % 3 places, mirrored through the unit box's centre when f / 9 is odd.
Vector3 moved(const Vector3& p, int f) {
    Vector3 q;
    for (int k = 0; k < 3; ++k)
        q[(k + f) % 3] = f / 9 % 2 != 0 ? 1.0f - p[k] : p[k];
    return q;
}

// ... and its corners turned to start at f / 3 % 3, in reverse order from f = 18 on.
Triangle* formOf(Scene& scene, const Vector3& a, const Vector3& b, const Vector3& c, int f) {
    const Vector3 p[3] = {moved(a, f), moved(b, f), moved(c, f)};
    const int turn = f / 3 % 3, step = f < 18 ? 1 : 2;
    return addTriangle(scene, p[turn], p[(turn + step) % 3], p[(turn + 2 * step) % 3]);
}

constexpr Vector3 A(0, 0, 0), B(1, 0, 0), C(0, 1, 0), down(0, 0, -1);

// Each row is also run in forms 1 to 8, so that every projection axis and every corner order is used.
// A miss leaves the distance alone.
TEST(Triangle, WaldTestGivesExactHitsAndMisses) {
    struct Row {
        Vector3 a, b, c, origin, direction;
        float limit;
        int facing; // 0: a miss; -1 where a, b, c appear counter-clockwise
        float t = 0, u = 0, v = 0;
    };
    const Row rows[] = {
        {A, B, C, {0.25f, 0.25f, -1}, {0, 0, 1}, 10, 1, 1, 0.25f, 0.25f},
        {A, B, C, {0.5f, 0.125f, 3}, down, 10, -1, 3, 0.5f, 0.125f},
        {A, B, C, {1, 0.5f, 2}, {-0.25f, -0.125f, -1}, 10, -1, 2, 0.5f, 0.25f},
        {A, B, C, {0.5f, 0, 1}, down, 10, -1, 1, 0.5f, 0}, // edges and corners belong to the triangle
        {A, B, C, {1, 0, 1}, down, 10, -1, 1, 1, 0},
        {A, B, C, {0.25f, 0.25f, 1}, down, 1, 0},    // a hit at the limit is no hit
        {A, B, C, {0.25f, 0.25f, 0}, down, 10, 0},   // t = 0: no epsilon at the origin
        {A, B, C, {-1, 0.25f, 1}, {1, 0, 0}, 10, 0}, // parallel: t infinite
        {A, B, C, {-1, 0.25f, 0}, {1, 0, 0}, 10, 0}, // parallel in the plane: t NaN
        {A, B, C, {0.75f, 0.5f, 1}, down, 10, 0},
        {A, B, {2, 0, 0}, {0.5f, 0, 1}, down, 10, 0}, // no area: never hit
        {{3, 0, 0}, {0, 3, 0}, {0, 0, 3}, {1, 1, 0}, {0, 0, 1}, 10, 1, 1, 1.0f / 3, 1.0f / 3},
    };
    Scene scene;
    // The unit normal (c - a) x (b - a) is written into the corners too.
    EXPECT_EQ(Vector3(-1, 0, 0), addTriangle(scene, {0, 0, 0}, {0, 3, 0}, {0, 0, 3})->c->normal);
    for (const Row& row : rows) {
        for (int f = 0; f < 9; ++f) {
            SCOPED_TRACE(testing::Message() << "row " << &row - rows << " form " << f);
            const Triangle* triangle = formOf(scene, row.a, row.b, row.c, f);
            const float weights[3] = {1 - row.u - row.v, row.u, row.v}; // of the row's a, b, c
            float t = row.limit, u = -1, v = -1;
            ASSERT_EQ(row.facing,
                      triangle->intersect(Ray{moved(row.origin, f), moved(row.direction, f)}, t, u, v));
            EXPECT_NEAR(row.facing == 0 ? row.limit : row.t, t, 1e-6f);
            if (row.facing != 0) {
                EXPECT_NEAR(weights[(f / 3 + 1) % 3], u, 1e-6f);
                EXPECT_NEAR(weights[(f / 3 + 2) % 3], v, 1e-6f);
            }
        }
    }
}

// Against the unit box, each row in all 36 forms, so that every one of the 13 separating axes and both
// sides of each are tried.
TEST(Triangle, BoxOverlapCountsTouchingAndFindsEachSeparatingAxis) {
    struct Row {
        Vector3 a, b, c;
        bool overlaps;
    };
    const Row rows[] = {
        {{0.25f, 0.25f, 0}, {0.75f, 0.25f, 0}, {0.25f, 0.75f, 0}, true}, // in a face
        {{-5, -5, 0.5f}, {5, -5, 0.5f}, {0, 5, 0.5f}, true},             // corners all outside
        {{1, 1, 1}, {2, 1.5f, 1}, {1.5f, 2, 1.5f}, true},                // corner on corner
        {{1.0001f, 1, 1}, {2, 1.5f, 1}, {1.5f, 2, 1.5f}, false},
        {{-5, -5, 1.0001f}, {5, -5, 1.0001f}, {0, 5, 1.0001f}, false},
        {{3, 0, 0}, {0, 3, 0}, {0, 0, 3}, true}, // its plane meets the box in a corner only
        {{3.5f, 0, 0}, {0, 3.5f, 0}, {0, 0, 3.5f}, false},
        // In z = 0.5, bounds overlapping the box: only the edge from a to b, crossed with z, separates.
        {{1.5f, 0.5f, 0.5f}, {0.5f, 1.5f, 0.5f}, {2, 2, 0.5f}, true},
        {{1.5f, 0.625f, 0.5f}, {0.625f, 1.5f, 0.5f}, {2, 2, 0.5f}, false},
        {{1.5f, 0.625f, 0.5f}, {0.625f, 1.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, true}, // c back inside
        {{-1, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, {2, 0.5f, 0.5f}, true},          // no area
        {{-1, 1.25f, 0.5f}, {0.5f, 1.25f, 0.5f}, {2, 1.25f, 0.5f}, false},
    };
    Scene scene;
    for (const Row& row : rows)
        for (int f = 0; f < 36; ++f)
            EXPECT_EQ(row.overlaps,
                      formOf(scene, row.a, row.b, row.c, f)->overlapsBox(Box{{0, 0, 0}, {1, 1, 1}}))
                << "row " << &row - rows << " form " << f;
}

} // namespace
} // namespace Raytracer
