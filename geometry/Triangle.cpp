#include "geometry/Triangle.h"

#include "geometry/BoxOverlap.h"
#include "geometry/TrianglePacket.h"
#include "geometry/Vertex.h"

#include <cmath>

namespace Raytracer {

namespace {

// (k + 1) mod 3 and (k + 2) mod 3 by table lookup, keeping the modulo out of the ray test.
constexpr int nextAxis[5] = {0, 1, 2, 0, 1};

} // namespace

Triangle::Triangle(std::int32_t type_, Vertex* a_, Vertex* b_, Vertex* c_)
    : Primitive(type_), a(a_), b(b_), c(c_) {
    computePlane();
    // The plane coefficients above were taken from the unscaled normal; only the stored one is unit.
    normal = normalize(normal);
    a->normal = normal;
    b->normal = normal;
    c->normal = normal;
}

// Wald's projection test setup: the plane and the edge coefficients, divided by the normal's dominant
// component so that the ray test works in the 2D projection with the fewest rounding losses.
void Triangle::computePlane() {
    const Vector3& pa = a->position;
    const Vector3 e1 = b->position - pa;
    const Vector3 e2 = c->position - pa;
    normal = cross(e2, e1);

    const float nx = std::fabs(normal.x);
    const float ny = std::fabs(normal.y);
    const float nz = std::fabs(normal.z);
    // Ties go to the later axis.
    if (nx > ny)
        projAxis = nx > nz ? 0 : 2;
    else
        projAxis = ny > nz ? 1 : 2;
    const int k = projAxis;
    const int ku = nextAxis[k + 1];
    const int kv = nextAxis[k + 2];

    const float r = 1.0f / normal[k];
    planeU = normal[ku] * r;
    planeV = normal[kv] * r;
    planeDist = dot(normal, pa) * r;
    cornerU = pa[ku];
    cornerV = pa[kv];

    // A zero-area triangle gives d = 0 and non-finite coefficients: every test in intersect then fails.
    const float d = e2[ku] * e1[kv] - e1[ku] * e2[kv];
    const float q = 1.0f / d;
    betaV = e2[ku] * q;
    betaU = -(e2[kv] * q);
    gammaU = e1[kv] * q;
    gammaV = -(e1[ku] * q);
}

int Triangle::intersect(const Ray& ray, float& distance, float& u, float& v) const {
    // The packets' test, with this triangle in every lane: one ray test for the whole system.
    const RayArrays arrays{{ray.origin.x, ray.origin.y, ray.origin.z},
                           {ray.direction.x, ray.direction.y, ray.direction.z}};
    const auto all = [](float x) { return Float4{x, x, x, x}; };
    const ProjectionHits hit = projectionTest(projected(arrays, projAxis), all(planeU), all(planeV), all(planeDist),
                                              all(cornerU), all(cornerV), all(betaV), all(betaU), all(gammaU),
                                              all(gammaV), distance);
    u = hit.beta[0];
    v = hit.gamma[0];
    if (hit.inside[0] == 0)
        return 0;
    distance = hit.t[0];
    return facingOf(arrays.direction, normal.x, normal.y, normal.z);
}

bool Triangle::overlapsBox(const Box& box) const {
    const Vector3 h = box.size * 0.5f;
    return triangleOverlapsBox(a->position, b->position, c->position, box.min + h, h);
}

void Triangle::extent(float& min, float& max, int axis) const {
    min = a->position[axis];
    max = min;
    const float pb = b->position[axis];
    if (pb < min)
        min = pb;
    if (pb > max)
        max = pb;
    const float pc = c->position[axis];
    if (pc < min)
        min = pc;
    if (pc > max)
        max = pc;
}

Vector3 Triangle::normalAt(const Vector3&, float u, float v) const {
    const Vector3& na = a->normal;
    return normalize(na + (b->normal - na) * u + (c->normal - na) * v);
}

void Triangle::textureCoordinates(const Vector3&, float& u, float& v, float&) const {
    // Both from the incoming weights: u is still needed for t after s is known.
    const float s = a->u + (b->u - a->u) * u + (c->u - a->u) * v;
    const float t = a->v + (b->v - a->v) * u + (c->v - a->v) * v;
    u = s;
    v = t;
}

void Triangle::update() {
    computePlane();
}

} // namespace Raytracer
