#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace Raytracer {

class Triangle;

// Four floats or four 32-bit masks side by side, one per triangle of a packet; the compiler maps each
// operation to one vector instruction where the processor has them.
using Float4 = float __attribute__((vector_size(16)));
using Mask4 = std::int32_t __attribute__((vector_size(16)));

// The ray, indexed as arrays, the form the walks take it in.
struct RayArrays {
    float origin[3];
    float direction[3];
};

// The ray's coordinates as the projection test reads them for a triangle of dominant axis k: on k,
// then on (k + 1) mod 3 and (k + 2) mod 3, each in all four lanes.
struct ProjectedRay {
    Float4 ok, ou, ov;
    Float4 dk, du, dv;
};

// The ray as a triangle of dominant axis k reads it.
inline ProjectedRay projected(const RayArrays& ray, int k) {
    const float* o = ray.origin;
    const float* d = ray.direction;
    const int u = (k + 1) % 3;
    const int v = (k + 2) % 3;
    const auto all = [](float x) { return Float4{x, x, x, x}; };
    return {all(o[k]), all(o[u]), all(o[v]), all(d[k]), all(d[u]), all(d[v])};
}

// A query's ray with its three projections, made once per query.
struct alignas(16) QueryRay {
    RayArrays arrays;
    ProjectedRay byAxis[3];

    explicit QueryRay(const RayArrays& ray)
        : arrays(ray), byAxis{projected(ray, 0), projected(ray, 1), projected(ray, 2)} {}
};

// What the projection test finds for four triangles: the plane distance t, the barycentric weights of
// corners b and c, and the lanes that hit closer than the limit (all bits set in a hitting lane).
struct ProjectionHits {
    Float4 t;
    Float4 beta;
    Float4 gamma;
    Mask4 inside;
};

// Wald's projection test of four triangles of one dominant axis, from their precomputed planes (the
// plane and edge coefficients, corner a on the two other axes). Every value is computed in the order
// of the scalar test, operation for operation, so each lane's answer is the scalar one bit for bit.
inline ProjectionHits projectionTest(const ProjectedRay& r, Float4 planeU, Float4 planeV, Float4 planeDist,
                                     Float4 cornerU, Float4 cornerV, Float4 betaV, Float4 betaU, Float4 gammaU,
                                     Float4 gammaV, float limit) {
    // A ray parallel to the plane makes n infinite and t infinite or NaN; the tests below reject both.
    const Float4 n = 1.0f / (r.dk + planeU * r.du + planeV * r.dv);
    ProjectionHits hit;
    hit.t = (planeDist - r.ok - planeU * r.ou - planeV * r.ov) * n;
    const Float4 hu = hit.t * r.du + r.ou - cornerU;
    const Float4 hv = hit.t * r.dv + r.ov - cornerV;
    hit.beta = hv * betaV + hu * betaU;
    hit.gamma = hv * gammaV + hu * gammaU;
    // No epsilon at the origin: callers offset the origins of secondary rays themselves.
    hit.inside = (hit.t > 0.0f) & (hit.beta >= 0.0f) & (hit.gamma >= 0.0f) & ~(hit.beta + hit.gamma > 1.0f) &
                 ~(hit.t >= limit);
    return hit;
}

// The hitting lanes of a mask as bits, lane 0 lowest.
inline unsigned laneBits(Mask4 mask) {
#if defined(__SSE__)
    return static_cast<unsigned>(_mm_movemask_ps(reinterpret_cast<__m128>(mask)));
#else
    return (mask[0] & 1u) | (mask[1] & 2u) | (mask[2] & 4u) | (mask[3] & 8u);
#endif
}

// +1 or -1: -1 when a ray of direction d meets the side of a triangle of normal n from which its
// corners a, b, c appear counter-clockwise.
inline int facingOf(const float* d, float nx, float ny, float nz) {
    return d[0] * nx + d[1] * ny + d[2] * nz > 0.0f ? -1 : 1;
}

// Up to four triangles of one kd-tree leaf with the same dominant axis, field by field, as the leaf's
// ray tests read them: copied from the triangles when the tree is built, so that a leaf is one run of
// memory and its tests run side by side. Lanes past count hold a NaN plane and never report a hit.
// What only a hit needs lies apart, in the packet's PacketLanes, so that the tests read three cache
// lines a packet and no more.
struct alignas(16) TrianglePacket {
    static constexpr int lanes = 4;
    // The group of the box that spans everything: packets of triangles that are not proxies.
    static constexpr std::int32_t everywhere = 0;

    Float4 planeU;
    Float4 planeV;
    Float4 planeDist;
    Float4 cornerU;
    Float4 cornerV;
    Float4 betaV;
    Float4 betaU;
    Float4 gammaU;
    Float4 gammaV;
    std::int32_t axis;  // every lane's dominant axis
    std::int32_t count; // lanes in use, from the first
    // The tree's proxy box all of this packet's triangles belong to, or everywhere: a ray that
    // passes wide of that box can skip the packet.
    std::int32_t group;

    // An empty packet for triangles of dominant axis k; every lane never hits until set.
    explicit TrianglePacket(std::int32_t k = 0, std::int32_t group = everywhere);

    // The four tests' answers, one array each.
    struct Hits {
        float t[lanes];
        float beta[lanes];
        float gamma[lanes];
    };

    // All four tests; returns the lanes that hit closer than limit as bits, lane 0 lowest, and their
    // answers in hits (written only when some lane hits). A caller whose limit shrinks as it takes the
    // hits checks each again.
    unsigned test(const QueryRay& ray, float limit, Hits& hits) const {
        const ProjectionHits hit = projectionTest(ray.byAxis[axis], planeU, planeV, planeDist, cornerU, cornerV, betaV,
                                                  betaU, gammaU, gammaV, limit);
        const unsigned mask = laneBits(hit.inside);
        if (mask != 0) {
            std::memcpy(hits.t, &hit.t, sizeof hits.t);
            std::memcpy(hits.beta, &hit.beta, sizeof hits.beta);
            std::memcpy(hits.gamma, &hit.gamma, sizeof hits.gamma);
        }
        return mask;
    }
};

// The lanes of one packet as a hit reads them.
struct PacketLanes {
    std::int32_t order[TrianglePacket::lanes]; // each lane's place in the leaf's list
    float normalX[TrianglePacket::lanes];      // for the facing of a hit
    float normalY[TrianglePacket::lanes];
    float normalZ[TrianglePacket::lanes];
    const Triangle* triangle[TrianglePacket::lanes];

    // +1 or -1, the facing Triangle::intersect reports for a hit in lane.
    int facing(const QueryRay& ray, int lane) const {
        return facingOf(ray.arrays.direction, normalX[lane], normalY[lane], normalZ[lane]);
    }
};

// Fills lane `lane` of a packet and its lanes from triangle, at place in its leaf's list.
void setLane(TrianglePacket& packet, PacketLanes& lanes, int lane, const Triangle& triangle, std::int32_t place);

} // namespace Raytracer
