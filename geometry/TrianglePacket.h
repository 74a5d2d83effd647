#pragma once

#include <cstdint>

namespace Raytracer {

class Triangle;

// The ray, indexed as arrays, the form the ray tests take it in.
struct RayArrays {
    float origin[3];
    float direction[3];
};

// What the projection ray test finds without a distance limit: the plane distance t and the
// barycentric weights of corners b and c. inside: t > 0 and the weights lie in the triangle. A hit
// closer than a limit is inside && !(t >= limit), exactly what a limited test would report.
struct LaneHit {
    float t;
    float beta;
    float gamma;
    int inside;
};

// Wald's projection test of one triangle, from its precomputed plane (dominant axis k, the plane and
// edge coefficients, corner a on the two other axes). Every value is computed in the same order as a
// scalar test with early exits would, and nothing branches, so a loop of these vectorises.
inline LaneHit projectionTest(const RayArrays& ray, int k, float planeU, float planeV, float planeDist,
                              float cornerU, float cornerV, float betaV, float betaU, float gammaU, float gammaV) {
    const float* o = ray.origin;
    const float* d = ray.direction;
    // The ray's coordinates on axis k and on the axes after it, (k + 1) mod 3 and (k + 2) mod 3.
    const float ok = k == 0 ? o[0] : (k == 1 ? o[1] : o[2]);
    const float ou = k == 0 ? o[1] : (k == 1 ? o[2] : o[0]);
    const float ov = k == 0 ? o[2] : (k == 1 ? o[0] : o[1]);
    const float dk = k == 0 ? d[0] : (k == 1 ? d[1] : d[2]);
    const float du = k == 0 ? d[1] : (k == 1 ? d[2] : d[0]);
    const float dv = k == 0 ? d[2] : (k == 1 ? d[0] : d[1]);

    // A ray parallel to the plane makes n infinite and t infinite or NaN; the tests below reject both.
    const float n = 1.0f / (dk + planeU * du + planeV * dv);
    LaneHit hit;
    hit.t = (planeDist - ok - planeU * ou - planeV * ov) * n;
    const float hu = hit.t * du + ou - cornerU;
    const float hv = hit.t * dv + ov - cornerV;
    hit.beta = hv * betaV + hu * betaU;
    hit.gamma = hv * gammaV + hu * gammaU;
    // No epsilon at the origin: callers offset the origins of secondary rays themselves.
    hit.inside = static_cast<int>(hit.t > 0.0f) & static_cast<int>(hit.beta >= 0.0f) &
                 static_cast<int>(hit.gamma >= 0.0f) & static_cast<int>(!(hit.beta + hit.gamma > 1.0f));
    return hit;
}

// +1 or -1: -1 when a ray of direction d meets the side of a triangle of normal n from which its
// corners a, b, c appear counter-clockwise.
inline int facingOf(const float* d, float nx, float ny, float nz) {
    return d[0] * nx + d[1] * ny + d[2] * nz > 0.0f ? -1 : 1;
}

// Four triangles of one kd-tree leaf, field by field, as the leaf's ray tests read them: copied from
// the triangles when the tree is built, so that a leaf is one run of memory and its four tests run
// side by side. Lanes past count hold a NaN plane and never report a hit.
struct alignas(16) TrianglePacket {
    static constexpr int lanes = 4;

    std::int32_t axis[lanes];
    float planeU[lanes];
    float planeV[lanes];
    float planeDist[lanes];
    float cornerU[lanes];
    float cornerV[lanes];
    float betaV[lanes];
    float betaU[lanes];
    float gammaU[lanes];
    float gammaV[lanes];
    float normalX[lanes]; // for the facing of a hit
    float normalY[lanes];
    float normalZ[lanes];
    const Triangle* triangle[lanes];
    std::int32_t count; // lanes in use, from the first

    // Fills lane `lane` from triangle, or makes it a lane that never hits when triangle is null.
    void set(int lane, const Triangle* triangle);

    // The four tests' answers, field by field like the packet.
    struct Hits {
        float t[lanes];
        float beta[lanes];
        float gamma[lanes];
        int inside[lanes];
    };

    // All four tests, unlimited; returns the lanes that hit closer than limit as bits, lane 0 lowest.
    // A caller whose limit shrinks as it takes the hits in lane order checks each again.
    unsigned test(const RayArrays& ray, float limit, Hits& hits) const {
        // Two loops: the first, the tests, vectorises on its own.
        for (int lane = 0; lane < lanes; ++lane) {
            const LaneHit hit = projectionTest(ray, axis[lane], planeU[lane], planeV[lane], planeDist[lane],
                                               cornerU[lane], cornerV[lane], betaV[lane], betaU[lane], gammaU[lane],
                                               gammaV[lane]);
            hits.t[lane] = hit.t;
            hits.beta[lane] = hit.beta;
            hits.gamma[lane] = hit.gamma;
            hits.inside[lane] = hit.inside & static_cast<int>(!(hit.t >= limit));
        }
        unsigned mask = 0;
        for (int lane = 0; lane < lanes; ++lane) {
            mask |= static_cast<unsigned>(hits.inside[lane]) << lane;
        }
        return mask;
    }

    // +1 or -1, the facing Triangle::intersect reports for a hit in lane.
    int facing(const RayArrays& ray, int lane) const {
        return facingOf(ray.direction, normalX[lane], normalY[lane], normalZ[lane]);
    }
};

} // namespace Raytracer
