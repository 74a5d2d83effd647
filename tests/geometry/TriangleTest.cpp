#include "geometry/Triangle.h"

#include "scene/Material.h"
#include "scene/Vertex.h"
#include "shading/ColorMap.h"
#include "shading/FloatMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace Raytracer {
namespace {

// A triangle with the three vertices it points at; not copyable, the triangle keeps their addresses.
struct Corners {
    Vertex va;
    Vertex vb;
    Vertex vc;
    Triangle triangle;

    Corners(const Vector3& a, const Vector3& b, const Vector3& c, std::int32_t type = Primitive::lit)
        : va(at(a)), vb(at(b)), vc(at(c)), triangle(type, &va, &vb, &vc) {}
    Corners(const Corners&) = delete;
    Corners& operator=(const Corners&) = delete;

    static Vertex at(const Vector3& position) {
        Vertex v;
        v.position = position;
        return v;
    }
};

struct Hit {
    int facing;
    float distance;
    float u;
    float v;
};

Hit shoot(const Triangle& triangle, const Vector3& origin, const Vector3& direction, float limit = 10.0f) {
    Hit hit{0, limit, -1.0f, -1.0f};
    hit.facing = triangle.intersect(Ray{origin, direction}, hit.distance, hit.u, hit.v);
    return hit;
}

void expectNear(const Vector3& expected, const Vector3& actual, float tolerance = 1e-6f) {
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

// The unit right triangle in z = 0, counter-clockwise seen from +z.
const Vector3 origin0(0, 0, 0);
const Vector3 unitX(1, 0, 0);
const Vector3 unitY(0, 1, 0);

TEST(Triangle, ConstructionGivesUnitFaceNormalToTriangleAndVertices) {
    Corners flat(origin0, unitX, unitY);
    EXPECT_EQ(Vector3(0, 0, -1), flat.triangle.normal);
    EXPECT_EQ(2, flat.triangle.projAxis);
    EXPECT_EQ(Vector3(0, 0, -1), flat.va.normal);
    EXPECT_EQ(Vector3(0, 0, -1), flat.vb.normal);
    EXPECT_EQ(Vector3(0, 0, -1), flat.vc.normal);
    EXPECT_EQ(Primitive::lit, flat.triangle.type);
    EXPECT_EQ(nullptr, flat.triangle.material);
    EXPECT_EQ(&flat.va, flat.triangle.a);
    EXPECT_EQ(&flat.vc, flat.triangle.c);

    // A larger triangle in x = 0: (c - a) x (b - a) = (0,0,3) x (0,3,0) = (-9,0,0), scaled to unit.
    Corners wall({0, 0, 0}, {0, 3, 0}, {0, 0, 3}, Primitive::environment);
    EXPECT_EQ(Vector3(-1, 0, 0), wall.triangle.normal);
    EXPECT_EQ(0, wall.triangle.projAxis);
    EXPECT_EQ(Vector3(-1, 0, 0), wall.vb.normal);
    EXPECT_EQ(Primitive::environment, wall.triangle.type);
}

TEST(Triangle, HitReportsDistanceWeightsAndFacing) {
    Corners flat(origin0, unitX, unitY);
    const Triangle& t = flat.triangle;

    // From the side where a, b, c run counter-clockwise the facing is -1.
    const Hit front = shoot(t, {0.25f, 0.25f, 1}, {0, 0, -1});
    EXPECT_EQ(-1, front.facing);
    EXPECT_FLOAT_EQ(1.0f, front.distance);
    EXPECT_FLOAT_EQ(0.25f, front.u);
    EXPECT_FLOAT_EQ(0.25f, front.v);

    const Hit back = shoot(t, {0.25f, 0.25f, -1}, {0, 0, 1});
    EXPECT_EQ(1, back.facing);
    EXPECT_FLOAT_EQ(1.0f, back.distance);
    EXPECT_FLOAT_EQ(0.25f, back.u);
    EXPECT_FLOAT_EQ(0.25f, back.v);

    // u weights b (on x) and v weights c (on y).
    const Hit off = shoot(t, {0.5f, 0.125f, 3}, {0, 0, -1});
    EXPECT_EQ(-1, off.facing);
    EXPECT_FLOAT_EQ(3.0f, off.distance);
    EXPECT_FLOAT_EQ(0.5f, off.u);
    EXPECT_FLOAT_EQ(0.125f, off.v);

    // Distances are in units of the direction, which need not be unit length.
    const Hit scaled = shoot(t, {0.25f, 0.25f, 1}, {0, 0, -4});
    EXPECT_EQ(-1, scaled.facing);
    EXPECT_FLOAT_EQ(0.25f, scaled.distance);

    // An oblique ray: from (1, 0.5, 2) along (-0.25, -0.125, -1) it lands on (0.5, 0.25, 0) at t = 2.
    const Hit oblique = shoot(t, {1, 0.5f, 2}, {-0.25f, -0.125f, -1});
    EXPECT_EQ(-1, oblique.facing);
    EXPECT_FLOAT_EQ(2.0f, oblique.distance);
    EXPECT_FLOAT_EQ(0.5f, oblique.u);
    EXPECT_FLOAT_EQ(0.25f, oblique.v);
}

TEST(Triangle, EdgesAndCornersAreHit) {
    Corners flat(origin0, unitX, unitY);
    struct Case {
        float x, y;
    };
    // Edge ab (v = 0), edge ca (u = 0), edge bc (u + v = 1) and the three corners.
    for (const Case& p : {Case{0.5f, 0}, Case{0, 0.5f}, Case{0.5f, 0.5f}, Case{0.25f, 0.75f}, Case{0, 0},
                          Case{1, 0}, Case{0, 1}}) {
        SCOPED_TRACE(testing::Message() << "at (" << p.x << ", " << p.y << ")");
        const Hit hit = shoot(flat.triangle, {p.x, p.y, 1}, {0, 0, -1});
        EXPECT_EQ(-1, hit.facing);
        EXPECT_FLOAT_EQ(1.0f, hit.distance);
        EXPECT_FLOAT_EQ(p.x, hit.u);
        EXPECT_FLOAT_EQ(p.y, hit.v);
    }
}

TEST(Triangle, MissesLeaveTheDistanceAlone) {
    Corners flat(origin0, unitX, unitY);
    const Triangle& t = flat.triangle;
    const Vector3 down(0, 0, -1);
    struct Case {
        const char* what;
        Vector3 origin;
        Vector3 direction;
        float limit;
    };
    const float justBelowOne = std::nextafter(1.0f, 0.0f);
    for (const Case& c : {
             Case{"hit exactly at the limit", {0.25f, 0.25f, 1}, down, 1.0f},
             Case{"hit beyond the limit", {0.25f, 0.25f, 1}, down, justBelowOne},
             Case{"origin on the plane (t = 0)", {0.25f, 0.25f, 0}, down, 10.0f},
             Case{"triangle behind the origin", {0.25f, 0.25f, -1}, down, 10.0f},
             Case{"parallel above the plane", {-1, 0.25f, 1}, {1, 0, 0}, 10.0f},
             Case{"parallel inside the plane", {-1, 0.25f, 0}, {1, 0, 0}, 10.0f},
             Case{"beyond edge bc", {0.75f, 0.5f, 1}, down, 10.0f},
             Case{"beyond edge ca", {-0.125f, 0.5f, 1}, down, 10.0f},
             Case{"beyond edge ab", {0.5f, -0.125f, 1}, down, 10.0f},
             Case{"past corner b", {1.125f, 0, 1}, down, 10.0f},
         }) {
        SCOPED_TRACE(c.what);
        const Hit hit = shoot(t, c.origin, c.direction, c.limit);
        EXPECT_EQ(0, hit.facing);
        EXPECT_EQ(c.limit, hit.distance);
    }

    // Just inside the limit it is a hit again.
    const Hit near = shoot(t, {0.25f, 0.25f, 1}, down, std::nextafter(1.0f, 2.0f));
    EXPECT_EQ(-1, near.facing);
    EXPECT_FLOAT_EQ(1.0f, near.distance);
}

TEST(Triangle, DegenerateTriangleIsNeverHitButStillEntersBoxes) {
    Corners line({0, 0, 0}, {1, 0, 0}, {2, 0, 0});
    for (const Vector3& direction : {Vector3(0, 0, -1), Vector3(0, -1, 0), Vector3(-1, 0, 0)}) {
        const Hit hit = shoot(line.triangle, Vector3(0.5f, 0, 0) - direction, direction);
        EXPECT_EQ(0, hit.facing);
        EXPECT_EQ(10.0f, hit.distance);
    }
    EXPECT_TRUE(line.triangle.overlapsBox(Box{{-1, -1, -1}, {4, 2, 2}}));
    EXPECT_FALSE(line.triangle.overlapsBox(Box{{-1, 1, -1}, {4, 2, 2}}));
}

TEST(Triangle, DominantAxisTiesGoToTheLaterAxis) {
    struct Case {
        const char* what;
        Vector3 a, b, c;
        int axis;
        Vector3 hitPoint; // (1 - u - v) a + u b + v c with u = 0.25, v = 0.5
    };
    // Planes x + y = 1, x + y + z = 1, x + z = 1 and y + z = 1.
    for (const Case& k : {
             Case{"|x| = |y| > |z|", {1, 0, 0}, {0, 1, 0}, {1, 0, 1}, 1, {0.75f, 0.25f, 0.5f}},
             Case{"|x| = |y| = |z|", {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, 2, {0.25f, 0.25f, 0.5f}},
             Case{"|x| = |z| > |y|", {1, 0, 0}, {0, 0, 1}, {1, 1, 0}, 2, {0.75f, 0.5f, 0.25f}},
             Case{"|y| = |z| > |x|", {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, 2, {0.5f, 0.75f, 0.25f}},
         }) {
        SCOPED_TRACE(k.what);
        Corners tilted(k.a, k.b, k.c);
        EXPECT_EQ(k.axis, tilted.triangle.projAxis);
        // The projection must still give the right weights: come in along the plane's normal.
        const Vector3 n = tilted.triangle.normal;
        const Hit hit = shoot(tilted.triangle, k.hitPoint - n * 2.0f, n);
        EXPECT_EQ(-1, hit.facing);
        EXPECT_NEAR(2.0f, hit.distance, 1e-6f);
        EXPECT_NEAR(0.25f, hit.u, 1e-6f);
        EXPECT_NEAR(0.5f, hit.v, 1e-6f);
    }
}

TEST(Triangle, OverlapsBoxWhenTouchingOrCutting) {
    const Box unit{{0, 0, 0}, {1, 1, 1}};
    struct Case {
        const char* what;
        Vector3 a, b, c;
        bool overlaps;
    };
    for (const Case& k : {
             Case{"inside", {0.25f, 0.25f, 0.25f}, {0.75f, 0.25f, 0.5f}, {0.5f, 0.75f, 0.75f}, true},
             Case{"in the bottom face", {0.25f, 0.25f, 0}, {0.75f, 0.25f, 0}, {0.25f, 0.75f, 0}, true},
             Case{"in the top face", {0.25f, 0.25f, 1}, {0.75f, 0.25f, 1}, {0.25f, 0.75f, 1}, true},
             Case{"covering a face", {-5, -5, 1}, {5, -5, 1}, {0, 5, 1}, true},
             Case{"slicing through, corners all outside", {-5, -5, 0.5f}, {5, -5, 0.5f}, {0, 5, 0.5f}, true},
             Case{"touching one box corner with its corner", {1, 1, 1}, {2, 1.5f, 1}, {1.5f, 2, 1.5f}, true},
             Case{"one corner just past the box", {1.0001f, 1, 1}, {2, 1.5f, 1}, {1.5f, 2, 1.5f}, false},
             Case{"parallel just above", {-5, -5, 1.0001f}, {5, -5, 1.0001f}, {0, 5, 1.0001f}, false},
             // Its plane x + y + z = 3 meets the box in the corner (1, 1, 1) only.
             Case{"plane through a box corner", {3, 0, 0}, {0, 3, 0}, {0, 0, 3}, true},
             Case{"plane past a box corner", {3.5f, 0, 0}, {0, 3.5f, 0}, {0, 0, 3.5f}, false},
         }) {
        SCOPED_TRACE(k.what);
        Corners tri(k.a, k.b, k.c);
        EXPECT_EQ(k.overlaps, tri.triangle.overlapsBox(unit));
        // The answer does not depend on the corner order.
        Corners reversed(k.c, k.b, k.a);
        EXPECT_EQ(k.overlaps, reversed.triangle.overlapsBox(unit));
    }
}

TEST(Triangle, OverlapsBoxSeparatedOnlyByAnEdgeAxis) {
    // In z = 0.5 the plane cuts the box and the bounds overlap it; only the line x + y = c of edge ab,
    // crossed with z, can separate. The box reaches x + y = 2 at its edge x = y = 1.
    const Box unit{{0, 0, 0}, {1, 1, 1}};
    Corners touching({1.5f, 0.5f, 0.5f}, {0.5f, 1.5f, 0.5f}, {2, 2, 0.5f});
    EXPECT_TRUE(touching.triangle.overlapsBox(unit));
    Corners apart({1.5f, 0.625f, 0.5f}, {0.625f, 1.5f, 0.5f}, {2, 2, 0.5f});
    EXPECT_FALSE(apart.triangle.overlapsBox(unit));

    // The same against a box flat in z whose corner edge is at x = y = -1.
    const Box slab{{-2, -2, 0.5f}, {1, 1, 0}};
    Corners slabTouching({-0.5f, -1.5f, 0.5f}, {-1.5f, -0.5f, 0.5f}, {0, 0, 0.5f});
    EXPECT_TRUE(slabTouching.triangle.overlapsBox(slab));
    Corners slabApart({-0.5f, -1.375f, 0.5f}, {-1.375f, -0.5f, 0.5f}, {0, 0, 0.5f});
    EXPECT_FALSE(slabApart.triangle.overlapsBox(slab));
}

TEST(Triangle, ExtentIsTheCornerRangeOnAnAxis) {
    Corners flat(origin0, unitX, unitY);
    float lo = -1, hi = -1;
    flat.triangle.extent(lo, hi, 1);
    EXPECT_EQ(0.0f, lo);
    EXPECT_EQ(1.0f, hi);
    flat.triangle.extent(lo, hi, 2);
    EXPECT_EQ(0.0f, lo);
    EXPECT_EQ(0.0f, hi);

    // Each corner supplies a minimum or a maximum somewhere.
    Corners spread({3, -1, 2}, {-2, 5, 0}, {1, 0, -4});
    spread.triangle.extent(lo, hi, 0);
    EXPECT_EQ(-2.0f, lo);
    EXPECT_EQ(3.0f, hi);
    spread.triangle.extent(lo, hi, 1);
    EXPECT_EQ(-1.0f, lo);
    EXPECT_EQ(5.0f, hi);
    spread.triangle.extent(lo, hi, 2);
    EXPECT_EQ(-4.0f, lo);
    EXPECT_EQ(2.0f, hi);
}

TEST(Triangle, NormalAtInterpolatesVertexNormalsToUnitLength) {
    Corners flat(origin0, unitX, unitY);
    // Straight after construction every vertex carries the face normal.
    expectNear({0, 0, -1}, flat.triangle.normalAt({}, 0.3f, 0.2f));

    flat.va.normal = {0, 0, 2};
    flat.vb.normal = {2, 0, 0};
    flat.vc.normal = {0, 3, 0};
    expectNear({0, 0, 1}, flat.triangle.normalAt({}, 0, 0));
    expectNear({1, 0, 0}, flat.triangle.normalAt({}, 1, 0));
    expectNear({0, 1, 0}, flat.triangle.normalAt({}, 0, 1));
    // Halfway along ab: (0,0,2) + (2,0,-2) * 0.5 = (1,0,1).
    const float r = 1.0f / std::sqrt(2.0f);
    expectNear({r, 0, r}, flat.triangle.normalAt({}, 0.5f, 0));
    // Halfway along bc: (1, 1.5, 0), whose length is sqrt(3.25).
    const float l = std::sqrt(3.25f);
    expectNear({1 / l, 1.5f / l, 0}, flat.triangle.normalAt({5, 5, 5}, 0.5f, 0.5f));
}

TEST(Triangle, TextureCoordinatesReplaceTheWeights) {
    Corners flat(origin0, unitX, unitY);
    flat.va.u = 0.25f;
    flat.va.v = 0;
    flat.vb.u = 1;
    flat.vb.v = 1;
    flat.vc.u = 0.25f;
    flat.vc.v = 0.5f;
    // s = 0.25 + 0.75 u and t = u + 0.5 v, both from the incoming u and v.
    float u = 0.5f, v = 0.25f, w = 7.0f;
    flat.triangle.textureCoordinates({}, u, v, w);
    EXPECT_FLOAT_EQ(0.625f, u);
    EXPECT_FLOAT_EQ(0.625f, v);
    EXPECT_EQ(7.0f, w);

    // At the corners the weights select each vertex's own coordinates.
    u = 0, v = 0;
    flat.triangle.textureCoordinates({}, u, v, w);
    EXPECT_FLOAT_EQ(0.25f, u);
    EXPECT_FLOAT_EQ(0.0f, v);
    u = 0, v = 1;
    flat.triangle.textureCoordinates({}, u, v, w);
    EXPECT_FLOAT_EQ(0.25f, u);
    EXPECT_FLOAT_EQ(0.5f, v);
}

// Returns its coordinates, so a test sees where it was looked up.
class CoordinateMap final : public Map {
  public:
    const float* lookup(float* out, float s, float t, float) const override {
        out[0] = s;
        out[1] = t;
        out[2] = 1.0f;
        return out;
    }
};

TEST(Triangle, ColorAndValueComeFromTheTextureOrTheConstantMap) {
    const ColorMap color(Color(0.5f, 0.25f, 0.125f));
    const FloatMap reflectivity(0.75f);
    const CoordinateMap texture;
    Material plain;
    plain.color = &color;
    plain.reflectivity = &reflectivity;
    Material textured = plain;
    textured.colorTexture = &texture;
    textured.reflectivityTexture = &texture;

    Corners lit(origin0, unitX, unitY, Primitive::lit);
    lit.triangle.material = &plain;
    EXPECT_EQ(Color(0.5f, 0.25f, 0.125f), lit.triangle.colorAt({}, 0.3f, 0.6f));
    EXPECT_EQ(0.75f, lit.triangle.valueAt({}, 0.3f, 0.6f));

    lit.triangle.material = &textured;
    EXPECT_EQ(Color(0.3f, 0.6f, 1.0f), lit.triangle.colorAt({}, 0.3f, 0.6f));
    EXPECT_EQ(0.3f, lit.triangle.valueAt({}, 0.3f, 0.6f));

    // A proxy ignores the textures and reads the constant maps; with a texture in the constant slot
    // this shows the lookup is made at (0, 0).
    Corners proxy(origin0, unitX, unitY, Primitive::proxy);
    Material proxyMaterial = textured;
    proxyMaterial.color = &texture;
    proxyMaterial.reflectivity = &texture;
    proxy.triangle.material = &proxyMaterial;
    EXPECT_EQ(Color(0, 0, 1), proxy.triangle.colorAt({}, 0.3f, 0.6f));
    EXPECT_EQ(0.0f, proxy.triangle.valueAt({}, 0.3f, 0.6f));
}

TEST(Triangle, UpdateFollowsMovedCornersAndKeepsVertexNormals) {
    Corners flat(origin0, unitX, unitY);
    flat.va.normal = {0, 1, 0}; // as the mesh builder would, from the file
    const Vector3 down(0, 0, -1);

    // Lift b: the plane becomes z = 2x, with normal (c - a) x (b - a) = (2, 0, -1).
    flat.vb.position = {1, 0, 2};
    flat.triangle.update();
    const Vector3 n = normalize(flat.triangle.normal);
    const float s = 1.0f / std::sqrt(5.0f);
    expectNear({2 * s, 0, -s}, n);
    EXPECT_EQ(Vector3(0, 1, 0), flat.va.normal);
    EXPECT_EQ(Vector3(0, 0, -1), flat.vb.normal);
    EXPECT_EQ(Vector3(0, 0, -1), flat.vc.normal);

    // The old ray now meets (0.25, 0.25, 0.5) at t = 0.5, still u = 0.25 of b and v = 0.25 of c.
    Hit hit = shoot(flat.triangle, {0.25f, 0.25f, 1}, down);
    EXPECT_EQ(-1, hit.facing);
    EXPECT_FLOAT_EQ(0.5f, hit.distance);
    EXPECT_FLOAT_EQ(0.25f, hit.u);
    EXPECT_FLOAT_EQ(0.25f, hit.v);
    // A ray parallel to the old plane now hits it at (0.5, 0.25, 1); it runs along the normal, so -1.
    hit = shoot(flat.triangle, {-1, 0.25f, 1}, {1, 0, 0});
    EXPECT_EQ(-1, hit.facing);
    EXPECT_FLOAT_EQ(1.5f, hit.distance);
    EXPECT_FLOAT_EQ(0.5f, hit.u);
    EXPECT_FLOAT_EQ(0.25f, hit.v);

    // Move the whole triangle up by 3: distances follow corner a.
    flat.va.position = {0, 0, 3};
    flat.vb.position = {1, 0, 3};
    flat.vc.position = {0, 1, 3};
    flat.triangle.update();
    hit = shoot(flat.triangle, {0.25f, 0.25f, 4}, down);
    EXPECT_EQ(-1, hit.facing);
    EXPECT_FLOAT_EQ(1.0f, hit.distance);
    EXPECT_FLOAT_EQ(0.25f, hit.u);
    EXPECT_FLOAT_EQ(0.25f, hit.v);
    EXPECT_EQ(0, shoot(flat.triangle, {0.25f, 0.25f, 1}, down).facing);

    float lo, hi;
    flat.triangle.extent(lo, hi, 2);
    EXPECT_EQ(3.0f, lo);
    EXPECT_EQ(3.0f, hi);
    EXPECT_TRUE(flat.triangle.overlapsBox(Box{{0, 0, 3}, {1, 1, 1}}));
    EXPECT_FALSE(flat.triangle.overlapsBox(Box{{0, 0, 0}, {1, 1, 1}}));
}

// Independent double-precision references.

struct DVec {
    double x, y, z;
};

DVec toD(const Vector3& v) {
    return {v.x, v.y, v.z};
}
DVec sub(const DVec& a, const DVec& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double dotD(const DVec& a, const DVec& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
DVec crossD(const DVec& a, const DVec& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double lengthD(const DVec& a) {
    return std::sqrt(dotD(a, a));
}

// Moller-Trumbore: the plane hit's parameter and the weights of b and c, without any limits applied.
struct Reference {
    bool valid; // false for a ray (nearly) parallel to the plane
    double t, u, v;
};

Reference mollerTrumbore(const DVec& a, const DVec& b, const DVec& c, const DVec& o, const DVec& d) {
    const DVec e1 = sub(b, a);
    const DVec e2 = sub(c, a);
    const DVec p = crossD(d, e2);
    const double det = dotD(e1, p);
    if (std::fabs(det) < 1e-12)
        return {false, 0, 0, 0};
    const double inv = 1.0 / det;
    const DVec s = sub(o, a);
    const DVec q = crossD(s, e1);
    return {true, dotD(e2, q) * inv, dotD(s, p) * inv, dotD(d, q) * inv};
}

TEST(Triangle, RandomRaysAgreeWithMollerTrumbore) {
    std::mt19937 random(2010);
    std::uniform_real_distribution<float> corner(-1.0f, 1.0f);
    std::uniform_real_distribution<float> place(-3.0f, 3.0f);
    std::uniform_real_distribution<float> weight(-0.3f, 1.3f);
    std::uniform_real_distribution<float> stretch(0.25f, 4.0f);
    std::uniform_real_distribution<float> limitFactor(0.5f, 1.5f);

    int hits = 0, misses = 0;
    for (int i = 0; i < 40000; ++i) {
        const Vector3 pa(corner(random), corner(random), corner(random));
        const Vector3 pb(corner(random), corner(random), corner(random));
        const Vector3 pc(corner(random), corner(random), corner(random));
        Corners tri(pa, pb, pc);

        // Aim most rays near the triangle; some go anywhere. Directions are not unit length.
        const Vector3 origin(place(random), place(random), place(random));
        Vector3 direction;
        if (i % 4 == 0) {
            direction = Vector3(place(random), place(random), place(random));
        } else {
            const float wu = weight(random), wv = weight(random);
            const Vector3 target = pa + (pb - pa) * wu + (pc - pa) * wv;
            direction = (target - origin) * stretch(random);
        }

        const DVec a = toD(pa), b = toD(pb), c = toD(pc), o = toD(origin), d = toD(direction);
        const Reference ref = mollerTrumbore(a, b, c, o, d);
        if (!ref.valid)
            continue;
        // Unlimited, or a limit on either side of the hit.
        const float limit = i % 3 == 0 ? 1e30f : static_cast<float>(ref.t) * limitFactor(random);

        // Float rounding in the weights grows with the coordinates' size, with thin triangles (|N| small
        // against the edges), with short edges and with grazing rays (D nearly in the plane).
        const DVec e1 = sub(b, a), e2 = sub(c, a);
        const DVec normal = crossD(e2, e1);
        const double thinness = lengthD(e1) * lengthD(e2) / lengthD(normal);
        const double grazing = lengthD(d) * lengthD(normal) / std::fabs(dotD(d, normal));
        const double size = 1.0 + std::max({std::fabs(o.x), std::fabs(o.y), std::fabs(o.z)});
        const double condition = size * thinness * grazing / std::min(lengthD(e1), lengthD(e2));
        const double tolerance = 1e-5 * condition;
        if (!(tolerance < 0.01))
            continue;

        // Cases within the tolerance of an edge, of the origin or of the limit may go either way.
        const double edgeDistance = std::min({ref.u, ref.v, 1.0 - ref.u - ref.v});
        const double tTolerance = tolerance * (1.0 + std::fabs(ref.t));
        if (std::fabs(edgeDistance) < tolerance || std::fabs(ref.t) < tTolerance ||
            std::fabs(ref.t - limit) < tTolerance)
            continue;
        const bool expectHit = edgeDistance > 0 && ref.t > 0 && ref.t < limit;

        SCOPED_TRACE(testing::Message() << "case " << i);
        const Hit hit = shoot(tri.triangle, origin, direction, limit);
        ASSERT_EQ(expectHit, hit.facing != 0);
        if (!expectHit) {
            EXPECT_EQ(limit, hit.distance);
            ++misses;
            continue;
        }
        ++hits;
        EXPECT_EQ(dotD(d, normal) > 0 ? -1 : 1, hit.facing);
        EXPECT_NEAR(ref.t, hit.distance, tTolerance);
        EXPECT_NEAR(ref.u, hit.u, tolerance);
        EXPECT_NEAR(ref.v, hit.v, tolerance);
    }
    // Enough of both outcomes for the comparison to mean something.
    EXPECT_GT(hits, 2000);
    EXPECT_GT(misses, 2000);
}

enum class Overlap { yes, no, unclear };

// Separating-axis test over all thirteen candidate axes. Each axis's gap between the projections is
// measured per unit of axis length, and a case within `band` of touching, widened by how badly the axis
// is conditioned (an edge nearly parallel to a box axis), is left undecided.
Overlap referenceOverlap(const std::array<DVec, 3>& tri, const Box& box, double band) {
    const DVec lo = toD(box.min);
    const DVec hi = {lo.x + box.size.x, lo.y + box.size.y, lo.z + box.size.z};
    const std::array<DVec, 8> boxCorners = {
        DVec{lo.x, lo.y, lo.z}, DVec{hi.x, lo.y, lo.z}, DVec{lo.x, hi.y, lo.z}, DVec{hi.x, hi.y, lo.z},
        DVec{lo.x, lo.y, hi.z}, DVec{hi.x, lo.y, hi.z}, DVec{lo.x, hi.y, hi.z}, DVec{hi.x, hi.y, hi.z}};
    const std::array<DVec, 3> boxAxes = {DVec{1, 0, 0}, DVec{0, 1, 0}, DVec{0, 0, 1}};
    const std::array<DVec, 3> edges = {sub(tri[1], tri[0]), sub(tri[2], tri[1]), sub(tri[0], tri[2])};

    struct Axis {
        DVec direction;
        double scale; // the length the axis would have if its two factors were perpendicular
    };
    std::vector<Axis> axes;
    for (const DVec& x : boxAxes)
        axes.push_back({x, 1.0});
    axes.push_back({crossD(edges[0], edges[1]), lengthD(edges[0]) * lengthD(edges[1])});
    for (const DVec& e : edges)
        for (const DVec& x : boxAxes)
            axes.push_back({crossD(x, e), lengthD(e)});

    bool separated = false, touching = false;
    for (const Axis& axis : axes) {
        const double length = lengthD(axis.direction);
        if (length < 1e-12 * axis.scale)
            continue; // parallel factors give no axis
        double triLo = std::numeric_limits<double>::infinity(), triHi = -triLo;
        for (const DVec& p : tri) {
            triLo = std::min(triLo, dotD(p, axis.direction));
            triHi = std::max(triHi, dotD(p, axis.direction));
        }
        double boxLo = std::numeric_limits<double>::infinity(), boxHi = -boxLo;
        for (const DVec& p : boxCorners) {
            boxLo = std::min(boxLo, dotD(p, axis.direction));
            boxHi = std::max(boxHi, dotD(p, axis.direction));
        }
        const double gap = std::max(triLo - boxHi, boxLo - triHi) / length;
        const double tolerance = band * axis.scale / length;
        if (gap > tolerance)
            separated = true;
        else if (gap > -tolerance)
            touching = true;
    }
    if (separated)
        return Overlap::no;
    return touching ? Overlap::unclear : Overlap::yes;
}

TEST(Triangle, RandomBoxesAgreeWithAFullSeparatingAxisTest) {
    std::mt19937 random(1152);
    std::uniform_real_distribution<float> corner(-1.0f, 1.0f);
    std::uniform_real_distribution<float> offset(-0.8f, 0.3f);
    std::uniform_real_distribution<float> extent(0.0f, 1.0f);
    std::uniform_real_distribution<float> scale(0.05f, 1.0f);

    int overlapping = 0, separated = 0, separatedInsideBounds = 0;
    for (int i = 0; i < 20000; ++i) {
        // Triangles of many sizes, some small enough to fall between boxes; some boxes flat on an axis.
        const Vector3 centre(corner(random), corner(random), corner(random));
        const float s = scale(random);
        const Vector3 pa = centre + Vector3(corner(random), corner(random), corner(random)) * s;
        const Vector3 pb = centre + Vector3(corner(random), corner(random), corner(random)) * s;
        const Vector3 pc = centre + Vector3(corner(random), corner(random), corner(random)) * s;
        // Boxes near the triangle, so that both outcomes are common.
        Box box{centre + Vector3(offset(random), offset(random), offset(random)),
                {extent(random), extent(random), extent(random)}};
        if (i % 10 == 0)
            box.size[i / 10 % 3] = 0.0f;

        const Overlap expected = referenceOverlap({toD(pa), toD(pb), toD(pc)}, box, 1e-4);
        if (expected == Overlap::unclear)
            continue;
        Corners tri(pa, pb, pc);
        ASSERT_EQ(expected == Overlap::yes, tri.triangle.overlapsBox(box)) << "case " << i;
        if (expected == Overlap::yes) {
            ++overlapping;
            continue;
        }
        ++separated;
        // The hard cases: the triangle's bounds meet the box, yet its plane or an edge axis separates.
        bool boundsMeet = true;
        for (int axis = 0; axis < 3; ++axis) {
            float lo, hi;
            tri.triangle.extent(lo, hi, axis);
            if (lo > box.min[axis] + box.size[axis] || hi < box.min[axis])
                boundsMeet = false;
        }
        if (boundsMeet)
            ++separatedInsideBounds;
    }
    EXPECT_GT(overlapping, 2000);
    EXPECT_GT(separated, 2000);
    EXPECT_GT(separatedInsideBounds, 500);
}

} // namespace
} // namespace Raytracer
