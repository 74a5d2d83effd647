#include "geometry/BoxOverlap.h"
#include "geometry/BoxOverlapRange.h"
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "geometry/SceneGeometry.h"
#include "geometry/Vertex.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace Raytracer {

namespace {

// Every primitive of this system is a Triangle; calling it through the final class lets the compiler
// skip the virtual dispatch for every primitive of every node.
const Triangle& asTriangle(const Primitive* primitive) {
    return *static_cast<const Triangle*>(primitive);
}

// Half the surface area of a box of size s, summed in the order every cost uses.
float halfArea(const Vector3& s) {
    return (s.y + s.z) * s.x + s.y * s.z;
}

// A point of a triangle that lies inside a box by the margin on every axis makes the float overlap test
// answer true. The face axes read the corners' coordinates, between which the point's lie. Elsewhere
// the test's translated corners, edges, normal and projections are off by some units in the last place
// of the largest magnitude involved, under 2^-19 of it, and the margin keeps every projection of the
// point inside the box's by 2^-16 of it. That holds but where the float normal leaves the triangle's
// plane by more: on slivers, whose normal is small against the cube of their edges (a sure range needs
// spread^3 + spreadShare * magnitude^2 * spread at most magnitude * |normal|, spread being the longest
// edge coordinate plus the margin, a factor of 16 above the rounding), and where products round into
// subnormals or overflow (magnitudes outside [2^-20, 2^32], edge coordinates other than zero below 2^-20
// of the magnitude). Such triangles get no sure range.
constexpr float marginShare = 0x1p-16f;
constexpr float minMagnitude = 0x1p-20f;
constexpr float maxMagnitude = 0x1p32f;
constexpr float shortEdgeShare = 0x1p-20f;
constexpr float spreadShare = 0x1p-12f;
constexpr float infinity = std::numeric_limits<float>::infinity();

// Raises magnitude to |v|, to infinity for good when v is not a number.
void widen(float& magnitude, float v) {
    if (!(std::fabs(v) <= magnitude))
        magnitude = std::isnan(v) ? infinity : std::fabs(v);
}

// Keeps the part of the convex polygon in[0, count) where side * (p[axis] - bound) >= 0; returns the
// corner count of the part, written to out.
int clip(const Vector3* in, int count, Vector3* out, int axis, float bound, float side) {
    if (count == 0)
        return 0;
    int kept = 0;
    float dp = side * (in[0][axis] - bound);
    for (int i = 0; i < count; ++i) {
        const Vector3& p = in[i];
        const Vector3& q = i + 1 < count ? in[i + 1] : in[0];
        const float dq = side * (q[axis] - bound);
        if (dp >= 0.0f)
            out[kept++] = p;
        if ((dp >= 0.0f) != (dq >= 0.0f)) {
            out[kept] = p + (q - p) * (dp / (dp - dq));
            out[kept++][axis] = bound;
        }
        dp = dq;
    }
    return kept;
}

// The sure range: the split-axis span of the triangle's points inside the node by twice the margin,
// narrowed by twice the margin, so that a box that reaches past one of its ends holds a point of the
// triangle by the margin. A triangle that lies in a plane across an axis needs no margin on it if that
// is not the split axis, where every candidate box has the node's bounds: the test's terms on it are
// those of the node's test, which passed (the node's primitives are those that overlap its box; at the
// root it is run). Its normal lies along that axis, so neither the plane test nor the edge axes that mix
// that axis with another can separate where the face test on it does not: by monotonic rounding, their
// projections are the face test's coordinate scaled by an edge coordinate. Across the split axis, only
// the face test on that axis remains, so the margin is needed there alone.
// The box-free part of the sure range's inputs, once per build.
void describe(BuildPrimitive& b, const Triangle& triangle) {
    b.corners[0] = triangle.a->position;
    b.corners[1] = triangle.b->position;
    b.corners[2] = triangle.c->position;
    for (int axis = 0; axis < 3; ++axis)
        triangle.extent(b.extentMin[axis], b.extentMax[axis], axis);
    b.magnitude = 0.0f;
    for (const Vector3& corner : b.corners) {
        widen(b.magnitude, corner.x);
        widen(b.magnitude, corner.y);
        widen(b.magnitude, corner.z);
    }
    const Vector3 edges[3] = {b.corners[1] - b.corners[0], b.corners[2] - b.corners[1],
                              b.corners[0] - b.corners[2]};
    b.longest = 0.0f;
    b.shortest = infinity;
    for (const Vector3& edge : edges) {
        for (int i = 0; i < 3; ++i) {
            const float length = std::fabs(edge[i]);
            if (length != 0.0f)
                b.shortest = std::min(b.shortest, length);
            b.longest = std::max(b.longest, length);
        }
    }
    for (int i = 0; i < 3; ++i)
        b.planar[i] = edges[0][i] == 0.0f && edges[1][i] == 0.0f;
    const Vector3 normal = cross(edges[0], edges[1]);
    b.normalSum = std::fabs(normal.x) + std::fabs(normal.y) + std::fabs(normal.z);
}

// The split-axis span [low, high] of the triangle's points inside the node by twice the margin, as
// above; false when the triangle has no sure range of this kind.
bool pointSpan(const BuildPrimitive& b, const Box& box, int axis, float magnitude, float margin, bool inChild,
               float& low, float& high) {
    // Scaling by a power of two is exact here, so the shortest edge coordinate stands for them all.
    const bool shortEdge = b.shortest < magnitude * shortEdgeShare;
    const bool* const planar = b.planar;
    if (planar[0] || planar[1] || planar[2]) {
        const Vector3 half = box.size * 0.5f;
        if (!inChild && !triangleOverlapsBox(b.corners[0], b.corners[1], b.corners[2], box.min + half, half))
            return false;
    } else {
        const float spread = b.longest + margin;
        if (!(spread * spread * spread + spreadShare * magnitude * magnitude * spread <= magnitude * b.normalSum))
            return false;
    }
    if (shortEdge && !planar[axis])
        return false;

    // The corners first: mostly the whole triangle is inside and the clipping would keep it.
    const Vector3* const corners = b.corners;
    Vector3 polygons[2][7] = {{corners[0], corners[1], corners[2]}};
    int count = 3;
    int current = 0;
    constexpr int others[3][2] = {{1, 2}, {2, 0}, {0, 1}};
    for (const int other : others[axis]) {
        if (planar[other] || planar[axis])
            continue;
        const float bounds[2] = {box.min[other] + 2.0f * margin,
                                 box.min[other] + box.size[other] - 2.0f * margin};
        if (bounds[0] <= b.extentMin[other] && b.extentMax[other] <= bounds[1])
            continue;
        for (int side = 0; side < 2; ++side) {
            count = clip(polygons[current], count, polygons[1 - current], other, bounds[side],
                         side == 0 ? 1.0f : -1.0f);
            current = 1 - current;
        }
    }
    if (count == 0)
        return false;
    low = box.min[axis] + 2.0f * margin;
    high = box.min[axis] + box.size[axis] - 2.0f * margin;
    float polygonLow = infinity;
    float polygonHigh = -infinity;
    for (int i = 0; i < count; ++i) {
        polygonLow = std::min(polygonLow, polygons[current][i][axis]);
        polygonHigh = std::max(polygonHigh, polygons[current][i][axis]);
    }
    low = std::max(low, polygonLow);
    high = std::min(high, polygonHigh);
    return low <= high;
}

// A second kind of sure range, from the corners alone, which holds for the small triangles far from the
// origin that the one above refuses, and with a margin a quarter of that one's, since the test computes
// a corner's projections directly. Let a corner k lie inside a box by 2^-18 of the magnitude: its
// translation is then inside the half size by 2^-19 of it, at least 32 units in the last place. The
// face axes read all three corners. Every edge axis projects k or the corner across the edge it is
// made from, which projects within a few units of k's; and |fl(u * t - v * s)| <= fl(|u| * h + |v| * k)
// when |t| <= h and |s| <= k, rounding being monotonic, so no edge axis separates. The plane test reads
// corner a: when a is k its terms are each of one sign, and so are their sums; otherwise the float normal
// must lie across a's edge to k within the margin, which it does but for slivers, where the cube of the
// longest edge coordinate is not well under the magnitude times the normal (8 l^3 + 2^-16 M^2 l <= M |n|,
// the second term for the normal's error from the translation), and for edge coordinates other than
// zero below 2^-20 of the magnitude, whose products may round into subnormals. Slivers still get a sure
// range where a and another corner both lie inside: every edge axis then projects one of them, and the
// plane test's terms keep their signs.
constexpr float cornerMarginShare = 0x1p-18f;
constexpr float cornerNormalShare = 0x1p-16f;

void cornerSure(const BuildPrimitive& b, const Box& box, int axis, float magnitude, float& leftSure,
                float& rightSure) {
    const float margin = magnitude * cornerMarginShare;
    bool inside[3];
    for (int k = 0; k < 3; ++k) {
        inside[k] = true;
        for (int i = 0; i < 3; ++i)
            inside[k] = inside[k] && box.min[i] + margin <= b.corners[k][i] &&
                        b.corners[k][i] <= box.min[i] + box.size[i] - margin;
    }
    const float l = b.longest;
    const bool alone = !(b.shortest < magnitude * shortEdgeShare) &&
                       8.0f * l * l * l + cornerNormalShare * magnitude * magnitude * l <= magnitude * b.normalSum;
    for (int k = 0; k < 3; ++k) {
        if (!inside[k])
            continue;
        float low = b.corners[k][axis];
        float high = low;
        if (!alone) {
            if (k == 0 || !inside[0])
                continue;
            low = std::max(low, b.corners[0][axis]);
            high = std::min(high, b.corners[0][axis]);
        }
        leftSure = std::min(leftSure, low + margin);
        rightSure = std::max(rightSure, high - margin);
    }
}

void findSureRange(SplitPrimitive& p, const Box& box, int axis, float boxMagnitude, bool inChild, bool corners) {
    p.sure = false;
    p.leftSure = 0.0f;
    p.rightSure = 0.0f;
    const BuildPrimitive& b = *p.data;
    float magnitude = boxMagnitude;
    widen(magnitude, b.magnitude);
    if (!(minMagnitude <= magnitude && magnitude <= maxMagnitude))
        return;
    const float margin = magnitude * marginShare;
    float leftSure = infinity;
    float rightSure = -infinity;
    if (corners)
        cornerSure(b, box, axis, magnitude, leftSure, rightSure);
    // The points' range begins and ends no nearer the extent's ends than twice the margin: where the
    // corners reach that far, it would change nothing.
    float low = 0.0f;
    float high = 0.0f;
    if (!(leftSure <= b.extentMin[axis] + 2.0f * margin && rightSure >= b.extentMax[axis] - 2.0f * margin) &&
        pointSpan(b, box, axis, magnitude, margin, inChild, low, high)) {
        leftSure = std::min(leftSure, low + 2.0f * margin);
        rightSure = std::max(rightSure, high - 2.0f * margin);
    }
    if (leftSure != infinity) {
        p.sure = true;
        p.leftSure = leftSure;
        p.rightSure = rightSure;
    }
}

// Lanes of the widest vector the scans run in. A scan covers whole groups of them, reading past the
// candidates it needs into the padding of the candidate store, so that the shortest window takes the
// vector path too.
constexpr int scanLanes = 8;

// Where a run of tests reads its triangles: one triangle for every lane (a scan of one primitive's
// window), or each lane its own from a queue of many primitives' tests (corners[3 * corner + axis][i]).
struct OneTriangle {
    using Source = const Vector3*;
    explicit OneTriangle(Source corners) : a(corners[0]), b(corners[1]), c(corners[2]) {}
    Vector3 corner(int k, int) const { return k == 0 ? a : (k == 1 ? b : c); }
    Vector3 a, b, c;
};

struct QueuedTriangles {
    using Source = const float* const*;
    explicit QueuedTriangles(Source coordinates_) : coordinates(coordinates_) {}
    Vector3 corner(int k, int i) const {
        return {coordinates[3 * k][i], coordinates[3 * k + 1][i], coordinates[3 * k + 2][i]};
    }
    Source coordinates;
};

// answers[i]: whether triangle i overlaps the candidate box at positions[i], left [lo, x] (Side 0) or
// right [x, hi] (Side 1) on axis Axis and the node's centre and half size on the others, for i in
// [0, count) rounded up to whole groups of lanes. Every lane computes exactly what the scalar test would,
// so the tree is the same on every processor.
template <int Axis, int Side, class Triangles>
[[gnu::always_inline]] inline void testRun(const Triangles triangles, const float* positions, int count,
                                           const Vector3& centre, const Vector3& half, float lo, float hi,
                                           std::int32_t* answers) {
    for (int group = 0; group < count; group += scanLanes) {
        for (int lane = 0; lane < scanLanes; ++lane) {
            const int i = group + lane;
            const float x = positions[i];
            Vector3 h = half;
            Vector3 m = centre;
            h[Axis] = (Side == 0 ? x - lo : hi - x) * 0.5f;
            m[Axis] = (Side == 0 ? lo : x) + h[Axis];
            answers[i] = triangleOverlapsBox(triangles.corner(0, i), triangles.corner(1, i),
                                             triangles.corner(2, i), m, h);
        }
    }
}

template <class Triangles>
using Tests = void (*)(typename Triangles::Source, const float*, int, const Vector3&, const Vector3&, float,
                       float, std::int32_t*);

// The same loop compiled twice, eight lanes at a time with AVX2 and four with the SSE2 every x86-64
// has, chosen once by what the processor supports. Chosen by hand rather than by an ifunc resolver,
// which runs before the sanitizers' runtimes are ready.
template <int Axis, int Side, class Triangles>
[[gnu::target("avx2")]] void testsAvx2(typename Triangles::Source source, const float* positions, int count,
                                       const Vector3& centre, const Vector3& half, float lo, float hi,
                                       std::int32_t* answers) {
    testRun<Axis, Side>(Triangles(source), positions, count, centre, half, lo, hi, answers);
}

template <int Axis, int Side, class Triangles>
void testsBaseline(typename Triangles::Source source, const float* positions, int count, const Vector3& centre,
                   const Vector3& half, float lo, float hi, std::int32_t* answers) {
    testRun<Axis, Side>(Triangles(source), positions, count, centre, half, lo, hi, answers);
}

// The tests of each split axis and side, for this processor.
template <class Triangles>
Tests<Triangles> testsFor(int axis, int side) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static constexpr Tests<Triangles> avx2Tests[3][2] = {
        {testsAvx2<0, 0, Triangles>, testsAvx2<0, 1, Triangles>},
        {testsAvx2<1, 0, Triangles>, testsAvx2<1, 1, Triangles>},
        {testsAvx2<2, 0, Triangles>, testsAvx2<2, 1, Triangles>}};
    static constexpr Tests<Triangles> baselineTests[3][2] = {
        {testsBaseline<0, 0, Triangles>, testsBaseline<0, 1, Triangles>},
        {testsBaseline<1, 0, Triangles>, testsBaseline<1, 1, Triangles>},
        {testsBaseline<2, 0, Triangles>, testsBaseline<2, 1, Triangles>}};
    return avx2 ? avx2Tests[axis][side] : baselineTests[axis][side];
}

// The candidate indices where p's windows open and close, each the first of the ascending
// positions[0, count) at which its condition holds, count if none: for the left window from where p's
// extent begins to leftSure, for the right one from beyond rightSure to beyond its extent's end.
// Halving without branches, the four searches side by side: the steps do not depend on the answers,
// and the four chains of loads overlap.
void findWindows(const float* positions, int count, SplitPrimitive& p) {
    if (count == 0) {
        std::fill(p.at, p.at + 4, 0);
        return;
    }
    const float begin = p.extentMin;
    const float end = p.extentMax;
    const float leftSure = p.leftSure;
    const float rightSure = p.rightSure;
    const auto stops = [&](const float* const (&first)[4], int offset, bool (&out)[4]) {
        out[0] = begin <= first[0][offset];
        out[1] = leftSure <= first[1][offset];
        out[2] = rightSure < first[2][offset];
        out[3] = !(first[3][offset] <= end);
    };
    const float* first[4] = {positions, positions, positions, positions};
    bool stop[4];
    for (int length = count; length > 1; length -= length / 2) {
        stops(first, length / 2 - 1, stop);
        for (int i = 0; i < 4; ++i)
            first[i] = stop[i] ? first[i] : first[i] + length / 2;
    }
    stops(first, 0, stop);
    for (int i = 0; i < 4; ++i)
        p.at[i] = static_cast<std::int32_t>(first[i] - positions) + (stop[i] ? 0 : 1);
    if (!p.sure) {
        p.at[1] = count;
        p.at[2] = 0;
    }
}

// The candidate boxes of a node being split, left [lo, x_j] or right [x_j, hi] on the split axis and the
// node's bounds on the others, and a primitive's answers over runs of candidates.
class CandidateBoxes {
  public:
    CandidateBoxes(const float* positions, const Box& box, int axis, int scanLength)
        : m_positions(positions), m_half(box.size * 0.5f), m_centre(box.min + m_half), m_axis(axis),
          m_lo(box.min[axis]), m_hi(box.min[axis] + box.size[axis]), m_scanLength(scanLength),
          m_scans{testsFor<OneTriangle>(axis, 0), testsFor<OneTriangle>(axis, 1)} {}

    // Calls run(begin, end, answer) in order for runs of candidates covering [first, end), each of one
    // answer of the overlap test, until run returns false. Runs of up to scanLength candidates are
    // tested at every candidate, vector-wide. A longer run whose answer the bounds over its boxes
    // leave open is halved: so a primitive of a long window costs a few bounds and scans about each
    // place where its answer changes, and the answers are the tests' own, where the test is monotonic
    // in the split position and where rounding makes it flip back and forth alike. Unbounded primitives
    // (coordinates past 2^32, or not numbers) are tested at every candidate.
    // The answer mostly changes near one end of the windows, where the primitive's extent begins (left)
    // or ends (right): runs are split off that end at growing offsets before they are halved.
    template <class Run>
    bool resolve(const BuildPrimitive& b, bool bounded, int side, int first, int end, Run& run) const {
        return resolve(b, bounded, side, first, end, run, m_scanLength);
    }

  private:
    template <class Run>
    bool resolve(const BuildPrimitive& b, bool bounded, int side, int first, int end, Run& run, int step) const {
        if (bounded && end - first > m_scanLength) {
            const OverlapAnswers answers = bounds(b.corners, side, first, end);
            if (answers.canBeTrue != answers.canBeFalse)
                return run(first, end, answers.canBeTrue);
            if (step >= (end - first) / 2) {
                const int middle = first + (end - first) / 2;
                return resolve(b, bounded, side, first, middle, run, end) &&
                       resolve(b, bounded, side, middle, end, run, end);
            }
            if (side == 0)
                return resolve(b, bounded, side, first, first + step, run, end) &&
                       resolve(b, bounded, side, first + step, end, run, 2 * step);
            return resolve(b, bounded, side, first, end - step, run, 2 * step) &&
                   resolve(b, bounded, side, end - step, end, run, end);
        }
        return scan(b.corners, side, first, end, run);
    }

    // Tests every candidate of [first, end), a chunk at a time, and hands on the runs of one answer,
    // found from the chunk's answers as bits.
    template <class Run>
    bool scan(const Vector3* corners, int side, int first, int end, Run& run) const {
        constexpr int chunk = 64;
        std::int32_t answers[chunk];
        while (first < end) {
            const int n = std::min(end - first, chunk);
            m_scans[side](corners, m_positions + first, n, m_centre, m_half, m_lo, m_hi, answers);
            std::uint64_t trues = 0;
            for (int i = 0; i < n; ++i)
                trues |= static_cast<std::uint64_t>(answers[i] != 0) << i;
            for (int begin = 0; begin < n;) {
                const bool answer = ((trues >> begin) & 1u) != 0;
                const std::uint64_t others = (answer ? ~trues : trues) >> begin;
                const int length = others == 0 ? n - begin : std::min(std::countr_zero(others), n - begin);
                if (!run(first + begin, first + begin + length, answer))
                    return false;
                begin += length;
            }
            first += n;
        }
        return true;
    }

    // The split-axis centre and half size of the boxes of candidates [first, end) lie between those of
    // its ends: each is a monotonic rounding of the position, the right box's centre x + half bounded
    // by the extreme position plus the extreme half size.
    OverlapAnswers bounds(const Vector3* corners, int side, int first, int end) const {
        const float x0 = m_positions[first];
        const float x1 = m_positions[end - 1];
        FloatRange half[3];
        FloatRange centre[3];
        for (int i = 0; i < 3; ++i) {
            half[i] = {m_half[i], m_half[i]};
            centre[i] = {m_centre[i], m_centre[i]};
        }
        FloatRange& h = half[m_axis];
        if (side == 0) {
            h = {(x0 - m_lo) * 0.5f, (x1 - m_lo) * 0.5f};
            centre[m_axis] = {m_lo + h.low, m_lo + h.high};
        } else {
            h = {(m_hi - x1) * 0.5f, (m_hi - x0) * 0.5f};
            // x + fl(hi - x) / 2 lies within (hi - x) 2^-25 of the midpoint (x + hi) / 2, which grows with x;
            // taken in double, with room for the double's roundings.
            const double error = (static_cast<double>(m_hi) - x0) * 0x1p-25 + 0x1p-149;
            const double room = (std::fabs(static_cast<double>(x0)) + std::fabs(static_cast<double>(x1)) +
                                 std::fabs(static_cast<double>(m_hi))) * 0x1p-50;
            const double low = (static_cast<double>(x0) + m_hi) * 0.5 - error - room;
            const double high = (static_cast<double>(x1) + m_hi) * 0.5 + error + room;
            centre[m_axis] = {std::max(x0 + h.low, static_cast<float>(low)),
                              std::min(x1 + h.high, static_cast<float>(high))};
        }
        return overlapOverRange(corners[0], corners[1], corners[2], centre, half, m_axis);
    }

    const float* m_positions;
    Vector3 m_half;
    Vector3 m_centre;
    int m_axis;
    float m_lo;
    float m_hi;
    int m_scanLength;
    Tests<OneTriangle> m_scans[2];
};

// positions[0, count) ascending, using keys[0, 2 * count): as std::sort leaves them but for the order of
// -0 and +0, which the caller's unique() merges whatever their order. Large nodes, where most of the
// sorting is, take a radix sort of the floats' bits made to order as the floats do (negatives' bits
// all flipped, positives' sign bit set), a byte a pass, skipping the bytes all keys share.
void sortPositions(float* positions, int count, std::uint32_t* keys) {
    constexpr int radixFrom = 2048;
    if (count < radixFrom) {
        std::sort(positions, positions + count);
        return;
    }
    std::uint32_t* from = keys;
    std::uint32_t* to = keys + count;
    for (int i = 0; i < count; ++i) {
        const auto bits = std::bit_cast<std::uint32_t>(positions[i]);
        from[i] = (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
    }
    for (int shift = 0; shift < 32; shift += 8) {
        int starts[257] = {};
        for (int i = 0; i < count; ++i)
            ++starts[((from[i] >> shift) & 0xffu) + 1];
        if (starts[((from[0] >> shift) & 0xffu) + 1] == count)
            continue;
        for (int b = 0; b < 256; ++b)
            starts[b + 1] += starts[b];
        for (int i = 0; i < count; ++i)
            to[starts[(from[i] >> shift) & 0xffu]++] = from[i];
        std::swap(from, to);
    }
    for (int i = 0; i < count; ++i) {
        const std::uint32_t key = from[i];
        positions[i] = std::bit_cast<float>((key & 0x80000000u) != 0 ? key & 0x7fffffffu : ~key);
    }
}

// Threads that share a large node's counting: the processor's, up to eight.
int buildThreads() {
    static const int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    return threads;
}

void pushFront(KdPool& pool, KdNode* leaf, KdListElement* element) {
    element->next = pool.element(leaf->reference());
    leaf->link = (pool.reference(element) << KdNode::referenceShift) |
                 (leaf->link & (KdNode::axisMask | KdNode::leafFlag));
}

} // namespace

KdTree::KdTree(KdPool& pool) : root(std::make_unique<KdNode>()), m_pool(pool), m_nodes(&pool) {}

void KdTree::BuildScratch::reserve(std::size_t primitives) {
    if (primitives <= splitPrimitives.size())
        return;
    splitPrimitives.resize(primitives);
    nodeIndices.resize(std::max(nodeIndices.size(), 3 * primitives)); // the root's list and its children's
    candidates.resize(3 * primitives + scanLanes);
    sortKeys.resize(6 * primitives);
}

void KdTree::build(SceneGeometry& scene) {
    m_scene = &scene;
    const int count = scene.primitiveCount();
    const auto n = static_cast<std::size_t>(count);
    if (n > buildPrimitives.size())
        buildPrimitives.resize(n);
    m_scratch.reserve(n);
    // The root's list order is the one pushing every primitive to the front of it gave.
    for (int i = 0; i < count; ++i) {
        describe(buildPrimitives[static_cast<std::size_t>(i)], asTriangle(scene.primitives[static_cast<std::size_t>(i)]));
        m_scratch.nodeIndices[static_cast<std::size_t>(i)] = count - 1 - i;
    }
    m_spareThreads = buildThreads() - 1;
    // A tree of many primitives is an object's, built once and walked only in its flat form: it is
    // built in a pool of its own, freed once the flat copy is made, and its root left an empty leaf.
    // Its scratch would outweigh the tree too, and goes before the flat copy is made.
    std::unique_ptr<KdPool> own;
    struct SharedPoolAfter { // however the build ends
        KdTree& tree;
        ~SharedPoolAfter() { tree.m_nodes = &tree.m_pool; }
    } const restore{*this};
    if (count > keptScratchLimit) {
        own = std::make_unique<KdPool>();
        m_nodes = own.get();
    }
    subdivide(m_scratch, root.get(), Box{scene.boundsMin, scene.boundsSize}, 0, 0, count);
    if (own) {
        std::vector<BuildPrimitive>().swap(buildPrimitives);
        m_scratch = BuildScratch{};
    }
    flatten();
    if (own) {
        std::vector<LeafLane>().swap(m_leafLanes);
        std::vector<std::int32_t>().swap(m_leafGroups);
        makeRootEmpty();
    }
}

void KdTree::TestQueue::reserve() {
    if (!positions.empty())
        return;
    for (std::vector<float>& coordinates : corners)
        coordinates.resize(length + scanLanes);
    positions.resize(length + scanLanes);
    answers.resize(length + scanLanes);
}

void KdTree::TestQueue::push(const BuildPrimitive& primitive, const float* candidates, int first, int end) {
    for (int j = first; j < end; ++j) {
        const auto at = static_cast<std::size_t>(size++);
        for (int corner = 0; corner < 3; ++corner) {
            for (int axis = 0; axis < 3; ++axis)
                corners[static_cast<std::size_t>(3 * corner + axis)][at] = primitive.corners[corner][axis];
        }
        positions[at] = candidates[j];
    }
}

void KdTree::TestQueue::run(Batch batch, const Vector3& centre, const Vector3& half, float lo, float hi) {
    const float* coordinates[9];
    for (std::size_t i = 0; i < 9; ++i)
        coordinates[i] = corners[i].data();
    batch(coordinates, positions.data(), size, centre, half, lo, hi, answers.data());
}

int KdTree::claimThreads(int wanted) {
    int spare = m_spareThreads.load();
    int claimed = 0;
    do {
        claimed = std::min(spare, wanted);
    } while (claimed > 0 && !m_spareThreads.compare_exchange_weak(spare, spare - claimed));
    return std::max(claimed, 0);
}

// The leaf's list in the order of its index list.
void KdTree::makeLeafList(const BuildScratch& scratch, KdNode* leaf, int first, int count) {
    const std::vector<std::int32_t>& nodeIndices = scratch.nodeIndices;
    const std::lock_guard lock(m_nodes->buildLock());
    for (int i = first + count; i-- > first;) {
        KdListElement* element = m_nodes->takeElement();
        element->primitive = m_scene->primitives[static_cast<std::size_t>(nodeIndices[static_cast<std::size_t>(i)])];
        pushFront(*m_nodes, leaf, element);
    }
}

void KdTree::subdivide(BuildScratch& scratch, KdNode* node, const Box& box, int depth, int first, int count) {
    std::vector<SplitPrimitive>& splitPrimitives = scratch.splitPrimitives;
    std::vector<std::int32_t>& nodeIndices = scratch.nodeIndices;
    std::vector<std::vector<std::int32_t>>& changes = scratch.changes;
    const Vector3& s = box.size;
    int axis = 2;
    if (s.x >= s.y && s.x >= s.z)
        axis = 0;
    else if (s.y >= s.x && s.y >= s.z)
        axis = 1;
    node->link = (node->link & ~KdNode::axisMask) | static_cast<std::uint32_t>(axis);

    const float lo = box.min[axis];
    const float hi = lo + box.size[axis];
    float boxMagnitude = 0.0f;
    for (int i = 0; i < 3; ++i) {
        widen(boxMagnitude, box.min[i]);
        widen(boxMagnitude, box.min[i] + box.size[i]);
    }

    // Candidate planes at the corner coordinates inside the node, ascending and free of duplicates. Of
    // equal positions the first corner in list order gives the value, which decides the sign of a zero.
    float* const positions = scratch.candidates.data();
    int candidateCount = 0;
    float firstZero = std::numeric_limits<float>::quiet_NaN();
    for (int i = 0; i < count; ++i) {
        SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(i)];
        p.data = &buildPrimitives[static_cast<std::size_t>(nodeIndices[static_cast<std::size_t>(first + i)])];
        p.extentMin = p.data->extentMin[axis];
        p.extentMax = p.data->extentMax[axis];
        for (const Vector3& corner : p.data->corners) {
            const float x = corner[axis];
            if (!(lo <= x && x <= hi))
                continue;
            positions[candidateCount++] = x;
            if (x == 0.0f && std::isnan(firstZero))
                firstZero = x;
        }
    }
    sortPositions(positions, candidateCount, scratch.sortKeys.data());
    candidateCount = static_cast<int>(std::unique(positions, positions + candidateCount) - positions);
    if (!std::isnan(firstZero))
        *std::lower_bound(positions, positions + candidateCount, 0.0f) = firstZero;

    // A primitive counts left at a candidate when its extent begins at or below it, reaches the node and
    // it overlaps the left box, or when it has missed the right box of an earlier candidate: from then on
    // it is left of every higher candidate untested. It counts right when it has not, its extent ends at
    // or above the candidate, reaches the node and it overlaps the right box. Within its sure range
    // that comes without a test; the primitive is tested for the left box only at candidates from its
    // extent's beginning to leftSure, and for the right box only from rightSure to its extent's end,
    // which for most primitives are a few candidates at the ends of their extents.
    //
    // Each primitive's counts are found on their own, as changes at candidate indices: it counts right
    // below the first candidate whose right box it misses (certainly below rightSure), and left from the
    // one after it on, and before that where the left test holds (certainly from leftSure on). So the
    // primitives share out among threads, each summing into its own changes, and the sums are the same
    // whatever the share.
    enum : std::int32_t { leftOpens, leftCloses, rightOpens, rightCloses };
    const CandidateBoxes boxes(positions, box, axis, longWindows);
    const auto change = [](std::int32_t* changes, int begin, int end) {
        if (begin < end) {
            ++changes[begin];
            --changes[end];
        }
    };
    // The right windows tested, or the part below them counted, and the left window's certain part:
    // leaves in at[leftCloses] where the left tests end, the candidate after the first missed right box.
    const auto countRight = [&](SplitPrimitive& p, int missed, std::int32_t* leftChanges, std::int32_t* rightChanges) {
        change(rightChanges, 0, hi >= p.extentMin ? std::min(missed, p.at[rightCloses]) : p.at[rightOpens]);
        p.at[leftCloses] = std::min(p.at[leftCloses], missed + 1);
        change(leftChanges, p.at[leftCloses], candidateCount);
    };
    // The first candidate whose right box p misses, candidateCount if none; and p's left answers. Runs
    // longer than longWindows are bounded first.
    const auto firstMissed = [&](const SplitPrimitive& p) {
        int missed = candidateCount;
        if (hi >= p.extentMin) {
            const auto right = [&](int begin, int, bool answer) {
                missed = answer ? missed : begin;
                return answer;
            };
            const bool bounded = boxMagnitude <= maxMagnitude && p.data->magnitude <= maxMagnitude;
            boxes.resolve(*p.data, bounded, 1, p.at[rightOpens], p.at[rightCloses], right);
        }
        return missed;
    };
    const auto countLeft = [&](const SplitPrimitive& p, std::int32_t* leftChanges) {
        if (lo <= p.extentMax) {
            const auto left = [&](int begin, int end, bool answer) {
                if (answer)
                    change(leftChanges, begin, end);
                return true;
            };
            const bool bounded = boxMagnitude <= maxMagnitude && p.data->magnitude <= maxMagnitude;
            boxes.resolve(*p.data, bounded, 0, p.at[leftOpens], p.at[leftCloses], left);
        }
    };
    const Tests<QueuedTriangles> batches[2] = {testsFor<QueuedTriangles>(axis, 0), testsFor<QueuedTriangles>(axis, 1)};
    const Vector3 nodeHalf = box.size * 0.5f;
    const Vector3 nodeCentre = box.min + nodeHalf;
    const int threads = 1 + (count >= parallelPrimitives ? claimThreads(buildThreads() - 1) : 0);
    const auto changeCount = static_cast<std::size_t>(candidateCount) + 1;
    if (changes.size() < 2 * static_cast<std::size_t>(threads))
        changes.resize(2 * static_cast<std::size_t>(threads));
    if (scratch.queues.size() < static_cast<std::size_t>(threads))
        scratch.queues.resize(static_cast<std::size_t>(threads));
    // A primitive with a window past longWindows is resolved alone. Every other primitive's windows are
    // tested in blocks, the right windows first: a primitive's left window ends after its first missed
    // right box. A window of a few candidates joins the block's queue, so that the tests of many
    // primitives run densely; a longer one is scanned at once, its triangle against a vector of boxes.
    enum : std::int32_t { alone = -1, scanned = -2 };
    constexpr int shortWindow = 4;
    const auto share = [&](int thread) {
        std::vector<std::int32_t>& left = changes[2 * static_cast<std::size_t>(thread)];
        std::vector<std::int32_t>& right = changes[2 * static_cast<std::size_t>(thread) + 1];
        for (std::vector<std::int32_t>* side : {&left, &right}) {
            if (side->size() < changeCount)
                side->resize(changeCount);
            std::fill_n(side->begin(), changeCount, 0);
        }
        TestQueue& queue = scratch.queues[static_cast<std::size_t>(thread)];
        queue.reserve();
        const int begin = static_cast<int>(static_cast<std::int64_t>(count) * thread / threads);
        const int end = static_cast<int>(static_cast<std::int64_t>(count) * (thread + 1) / threads);
        const auto rightWindow = [&](const SplitPrimitive& p) {
            return hi >= p.extentMin ? p.at[rightCloses] - p.at[rightOpens] : 0;
        };
        const auto leftWindow = [&](const SplitPrimitive& p) {
            return lo <= p.extentMax ? p.at[leftCloses] - p.at[leftOpens] : 0;
        };
        for (int k = begin; k < end; ++k) {
            SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
            findSureRange(p, box, axis, boxMagnitude, depth > 0, cornerRanges);
            findWindows(positions, candidateCount, p);
            p.queued = scanned;
            if (std::max(rightWindow(p), leftWindow(p)) > longWindows) {
                p.queued = alone;
                countRight(p, firstMissed(p), left.data(), right.data());
                countLeft(p, left.data());
            }
        }
        for (int first = begin; first < end;) {
            int last = first;
            int rightTests = 0;
            int leftTests = 0;
            for (; last < end; ++last) {
                const SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(last)];
                if (p.queued == alone)
                    continue;
                const int rightQueued = rightWindow(p) <= shortWindow ? rightWindow(p) : 0;
                // A left window may shrink to a few candidates once the right ones are known.
                const int leftQueued = std::clamp(leftWindow(p), 0, shortWindow);
                if (rightTests + rightQueued > TestQueue::length || leftTests + leftQueued > TestQueue::length)
                    break;
                rightTests += rightQueued;
                leftTests += leftQueued;
            }
            queue.size = 0;
            for (int k = first; k < last; ++k) {
                SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
                if (p.queued == alone)
                    continue;
                if (rightWindow(p) <= shortWindow) {
                    p.queued = queue.size;
                    queue.push(*p.data, positions, p.at[rightOpens], p.at[rightOpens] + rightWindow(p));
                    continue;
                }
                p.queued = scanned;
                countRight(p, firstMissed(p), left.data(), right.data());
            }
            queue.run(batches[1], nodeCentre, nodeHalf, lo, hi);
            for (int k = first; k < last; ++k) {
                SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
                if (p.queued < 0)
                    continue;
                int missed = candidateCount;
                for (int t = 0; t < rightWindow(p); ++t) {
                    if (queue.answers[static_cast<std::size_t>(p.queued + t)] == 0) {
                        missed = p.at[rightOpens] + t;
                        break;
                    }
                }
                countRight(p, missed, left.data(), right.data());
            }
            queue.size = 0;
            for (int k = first; k < last; ++k) {
                SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
                if (p.queued == alone)
                    continue;
                if (leftWindow(p) <= shortWindow) {
                    p.queued = queue.size;
                    queue.push(*p.data, positions, p.at[leftOpens], p.at[leftOpens] + std::max(leftWindow(p), 0));
                    continue;
                }
                p.queued = scanned;
                countLeft(p, left.data());
            }
            queue.run(batches[0], nodeCentre, nodeHalf, lo, hi);
            for (int k = first; k < last; ++k) {
                const SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
                if (p.queued < 0)
                    continue;
                for (int t = 0; t < leftWindow(p); ++t) {
                    if (queue.answers[static_cast<std::size_t>(p.queued + t)] != 0)
                        change(left.data(), p.at[leftOpens] + t, p.at[leftOpens] + t + 1);
                }
            }
            first = last;
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (int thread = 1; thread < threads; ++thread)
            helpers.emplace_back(share, thread);
        share(0);
    }
    giveThreads(threads - 1);
    std::int32_t* const leftChanges = changes[0].data();
    std::int32_t* const rightChanges = changes[1].data();
    for (int thread = 1; thread < threads; ++thread) {
        const std::int32_t* const left = changes[2 * static_cast<std::size_t>(thread)].data();
        const std::int32_t* const right = changes[2 * static_cast<std::size_t>(thread) + 1].data();
        for (std::size_t j = 0; j < changeCount; ++j) {
            leftChanges[j] += left[j];
            rightChanges[j] += right[j];
        }
    }

    // Surface area heuristic: a split costs 0.3 plus the primitives of each side weighted by the chance
    // that a ray through the node also passes that side, the ratio of surface areas.
    const float q = 0.5f / halfArea(s);
    // No cap on the first cost taken: with one, a node of some 17,000 primitives or more, where every
    // split costs more, was split at 0 between two empty boxes and each side made a leaf of them all.
    float best = infinity;
    float bestPosition = 0.0f;
    Box bestLeft{};
    Box bestRight{};
    int leftSide = 0; // primitives counted left of the candidate, and right
    int rightSide = 0;
    for (int j = 0; j < candidateCount; ++j) {
        leftSide += leftChanges[j];
        rightSide += rightChanges[j];
        const float position = positions[j];
        Box left = box;
        left.size[axis] = position - lo;
        Box right = box;
        right.min[axis] = position;
        right.size[axis] = hi - position;
        const float cost = (halfArea(right.size) * 2.0f * q * static_cast<float>(rightSide) +
                            halfArea(left.size) * 2.0f * q * static_cast<float>(leftSide)) +
                           0.3f;
        // Strictly below: on a tie the lower candidate stays.
        if (cost < best) {
            best = cost;
            bestPosition = position;
            bestLeft = left;
            bestRight = right;
        }
    }

    // A leaf costs one unit per primitive.
    if (candidateCount == 0 || best > static_cast<float>(count)) {
        makeLeafList(scratch, node, first, count);
        return;
    }

    node->split = bestPosition;
    KdNode* leftChild = nullptr;
    {
        const std::lock_guard lock(m_nodes->buildLock());
        leftChild = m_nodes->takePair();
        node->link = (m_nodes->reference(leftChild) << KdNode::referenceShift) | static_cast<std::uint32_t>(axis);
    }
    KdNode* const rightChild = leftChild + 1;

    // A primitive that straddles the plane, or lies in it, goes to both children; within its sure range
    // without a test. The children's index lists go above this node's, the right one first, so that the
    // left subtree, split first, builds on top of both and the right one on top of its own. Taken in
    // reverse, each is in the order pushing to the front of a list gave.
    const auto top = static_cast<std::size_t>(first + count);
    if (nodeIndices.size() < top + 2 * static_cast<std::size_t>(count))
        nodeIndices.resize(2 * (top + 2 * static_cast<std::size_t>(count)));
    std::int32_t* const rightIndices = nodeIndices.data() + top;
    std::int32_t* const leftIndices = rightIndices + count;
    const std::int32_t* const indices = nodeIndices.data() + first;
    const Vector3 leftHalf = bestLeft.size * 0.5f;
    const Vector3 leftCentre = bestLeft.min + leftHalf;
    const Vector3 rightHalf = bestRight.size * 0.5f;
    const Vector3 rightCentre = bestRight.min + rightHalf;
    // A primitive of the node that lies wholly on one side of the plane, in it included, meets that
    // child, the node's box cut there. The box test alone can miss one that touches the child only on a
    // face: the child's centre and half size round otherwise than the node's, and a face-aligned triangle
    // (a proxy box's side in the node's face or the plane) would be lost from both children. Below the
    // root a primitive is in the node; the root's are tested.
    int leftCount = 0;
    int rightCount = 0;
    for (int k = count; k-- > 0;) {
        const SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
        const Vector3* const corners = p.data->corners;
        const auto inNode = [&] {
            return depth > 0 || triangleOverlapsBox(corners[0], corners[1], corners[2], nodeCentre, nodeHalf);
        };
        if ((p.sure && bestPosition >= p.leftSure) ||
            (bestPosition >= p.extentMin && lo <= p.extentMax &&
             triangleOverlapsBox(corners[0], corners[1], corners[2], leftCentre, leftHalf)) ||
            (p.extentMax <= bestPosition && inNode()))
            leftIndices[leftCount++] = indices[k];
        if ((p.sure && bestPosition <= p.rightSure) ||
            (hi >= p.extentMin && bestPosition <= p.extentMax &&
             triangleOverlapsBox(corners[0], corners[1], corners[2], rightCentre, rightHalf)) ||
            (p.extentMin >= bestPosition && inNode()))
            rightIndices[rightCount++] = indices[k];
    }
    const int rightFirst = static_cast<int>(top);
    const int leftFirst = rightFirst + rightCount;
    std::copy(leftIndices, leftIndices + leftCount, rightIndices + rightCount);

    // The left subtree reuses the scratch arrays and the candidate store; from here on this node needs
    // only its children, the two boxes and the two index lists, all held outside them. A large right
    // subtree goes to a spare thread with scratch of its own, its list copied there first: the left
    // subtree's may move the list it lies in.
    const bool leftSplits = depth < maxDepth && leftCount > 2;
    const bool rightSplits = depth < maxDepth && rightCount > 2;
    std::exception_ptr rightFailure;
    std::jthread rightBuild;
    if (leftSplits && rightSplits && std::min(leftCount, rightCount) >= parallelPrimitives && claimThreads(1) == 1) {
        auto own = std::make_unique<BuildScratch>();
        own->reserve(static_cast<std::size_t>(rightCount));
        std::copy_n(nodeIndices.data() + rightFirst, rightCount, own->nodeIndices.data());
        rightBuild = std::jthread([this, &rightFailure, own = std::move(own), rightChild, bestRight, depth, rightCount] {
            try {
                subdivide(*own, rightChild, bestRight, depth + 1, 0, rightCount);
            } catch (...) {
                rightFailure = std::current_exception();
            }
            giveThreads(1);
        });
    }
    if (leftSplits)
        subdivide(scratch, leftChild, bestLeft, depth + 1, leftFirst, leftCount);
    else
        makeLeafList(scratch, leftChild, leftFirst, leftCount);
    if (rightBuild.joinable()) {
        rightBuild.join();
        if (rightFailure)
            std::rethrow_exception(rightFailure);
    } else if (rightSplits) {
        subdivide(scratch, rightChild, bestRight, depth + 1, rightFirst, rightCount);
    } else {
        makeLeafList(scratch, rightChild, rightFirst, rightCount);
    }
}

} // namespace Raytracer
