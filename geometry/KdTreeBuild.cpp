#include "geometry/BoxOverlap.h"
#include "geometry/BoxOverlapRange.h"
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "geometry/SceneGeometry.h"
#include "geometry/Vertex.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <type_traits>

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

void findSureRange(SplitPrimitive& p, const Box& box, int axis, float boxMagnitude, bool inChild) {
    p.sure = false;
    p.leftSure = 0.0f;
    p.rightSure = 0.0f;
    const BuildPrimitive& b = *p.data;
    float magnitude = boxMagnitude;
    widen(magnitude, b.magnitude);
    if (!(minMagnitude <= magnitude && magnitude <= maxMagnitude))
        return;
    const float margin = magnitude * marginShare;
    // Scaling by a power of two is exact here, so the shortest edge coordinate stands for them all.
    const bool shortEdge = b.shortest < magnitude * shortEdgeShare;
    const bool* const planar = b.planar;
    if (planar[0] || planar[1] || planar[2]) {
        const Vector3 half = box.size * 0.5f;
        if (!inChild && !triangleOverlapsBox(b.corners[0], b.corners[1], b.corners[2], box.min + half, half))
            return;
    } else {
        const float spread = b.longest + margin;
        if (!(spread * spread * spread + spreadShare * magnitude * magnitude * spread <= magnitude * b.normalSum))
            return;
    }
    if (shortEdge && !planar[axis])
        return;

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
        return;
    float low = box.min[axis] + 2.0f * margin;
    float high = box.min[axis] + box.size[axis] - 2.0f * margin;
    float polygonLow = infinity;
    float polygonHigh = -infinity;
    for (int i = 0; i < count; ++i) {
        polygonLow = std::min(polygonLow, polygons[current][i][axis]);
        polygonHigh = std::max(polygonHigh, polygons[current][i][axis]);
    }
    low = std::max(low, polygonLow);
    high = std::min(high, polygonHigh);
    if (low <= high) {
        p.sure = true;
        p.leftSure = low + 2.0f * margin;
        p.rightSure = high - 2.0f * margin;
    }
}

// Lanes of the widest vector the overlap loop runs in. A batch is padded to whole vectors so that a
// short one takes the vector path too.
constexpr int widestVector = 8;

// answers[i]: whether triangle i of corners (coordinate by coordinate, index 3 * corner + axis) overlaps
// box 0 or, where right[i], box 1, for i in [0, count), count a whole number of vectors. Every lane
// computes exactly what the scalar test would, so the tree is the same on every processor.
[[gnu::always_inline]] inline void overlapsRun(const std::array<std::vector<float>, 9>& corners,
                                               const std::int32_t* right, int count,
                                               const Vector3 (&centre)[2], const Vector3 (&half)[2],
                                               std::int32_t* answers) {
    const float* ax = corners[0].data();
    const float* ay = corners[1].data();
    const float* az = corners[2].data();
    const float* bx = corners[3].data();
    const float* by = corners[4].data();
    const float* bz = corners[5].data();
    const float* cx = corners[6].data();
    const float* cy = corners[7].data();
    const float* cz = corners[8].data();
    // Copied out, so that a lane's choice of box is a select rather than a load.
    const Vector3 lc = centre[0], rc = centre[1], lh = half[0], rh = half[1];
    for (int i = 0; i < count; ++i) {
        const bool r = right[i] != 0;
        const Vector3 c(r ? rc.x : lc.x, r ? rc.y : lc.y, r ? rc.z : lc.z);
        const Vector3 h(r ? rh.x : lh.x, r ? rh.y : lh.y, r ? rh.z : lh.z);
        answers[i] =
            triangleOverlapsBox({ax[i], ay[i], az[i]}, {bx[i], by[i], bz[i]}, {cx[i], cy[i], cz[i]}, c, h);
    }
}

// The same loop compiled twice, eight triangles at a time with AVX2 and four with the SSE2 every
// x86-64 has, chosen once by what the processor supports. Chosen by hand rather than by an ifunc
// resolver, which runs before the sanitizers' runtimes are ready.
[[gnu::target("avx2")]] void overlapsAvx2(const std::array<std::vector<float>, 9>& corners,
                                          const std::int32_t* right, int count, const Vector3 (&centre)[2],
                                          const Vector3 (&half)[2], std::int32_t* answers) {
    overlapsRun(corners, right, count, centre, half, answers);
}

void overlapsBaseline(const std::array<std::vector<float>, 9>& corners, const std::int32_t* right, int count,
                      const Vector3 (&centre)[2], const Vector3 (&half)[2], std::int32_t* answers) {
    overlapsRun(corners, right, count, centre, half, answers);
}

void overlapsAll(const std::array<std::vector<float>, 9>& corners, const std::int32_t* right, int count,
                 const Vector3 (&centre)[2], const Vector3 (&half)[2], std::int32_t* answers) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        overlapsAvx2(corners, right, count, centre, half, answers);
    } else {
        overlapsBaseline(corners, right, count, centre, half, answers);
    }
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
// node's bounds on the others, built as the sweep builds them, and a primitive's answers over runs of
// candidates.
class CandidateBoxes {
  public:
    CandidateBoxes(const float* positions, const Box& box, int axis)
        : m_positions(positions), m_half(box.size * 0.5f), m_centre(box.min + m_half), m_axis(axis),
          m_lo(box.min[axis]), m_hi(box.min[axis] + box.size[axis]) {}

    // The sweep's test at candidate j of the left box (side 0) or the right one (side 1).
    bool test(const Vector3* corners, int side, int j) const {
        const float x = m_positions[j];
        Vector3 half = m_half;
        Vector3 centre = m_centre;
        half[m_axis] = (side == 0 ? x - m_lo : m_hi - x) * 0.5f;
        centre[m_axis] = (side == 0 ? m_lo : x) + half[m_axis];
        return triangleOverlapsBox(corners[0], corners[1], corners[2], centre, half);
    }

    // Calls run(begin, end, answer) in order for runs of candidates covering [first, end), each of one
    // answer of test(), until run returns false. A run whose answer the bounds over its boxes leave
    // open is halved, down to single tests: so a primitive costs a few bounds and tests about each
    // place where its answer changes, and the answers are the tests' own, where the test is monotonic
    // in the split position and where rounding makes it flip back and forth alike. Unbounded primitives
    // (coordinates past 2^32, or not numbers) are tested at every candidate.
    // The answer mostly changes near one end of the windows, where the primitive's extent begins (left)
    // or ends (right): runs are split off that end at growing offsets before they are halved.
    template <class Run>
    bool resolve(const BuildPrimitive& b, bool bounded, int side, int first, int end, Run& run, int step = 2) const {
        if (bounded && end - first > 2) {
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
        for (int j = first; j < end; ++j) {
            if (!run(j, j + 1, test(b.corners, side, j)))
                return false;
        }
        return true;
    }

  private:
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
};

void pushFront(KdPool& pool, KdNode* leaf, KdListElement* element) {
    element->next = pool.element(leaf->reference());
    leaf->link = (pool.reference(element) << KdNode::referenceShift) |
                 (leaf->link & (KdNode::axisMask | KdNode::leafFlag));
}

} // namespace

KdTree::KdTree(KdPool& pool) : root(std::make_unique<KdNode>()), m_pool(pool) {}

void KdTree::build(SceneGeometry& scene) {
    m_scene = &scene;
    const int count = scene.primitiveCount();
    const auto n = static_cast<std::size_t>(count);
    if (eventStart.empty() || n > splitPrimitives.size()) {
        splitPrimitives.resize(n);
        buildPrimitives.resize(n);
        nodeIndices.resize(std::max(nodeIndices.size(), 3 * n)); // the root's list and its children's
        candidates.resize(3 * n);
        events.resize(4 * n);
        eventStart.resize(3 * n + 3);
        leftChanges.resize(3 * n + 1);
        rightChanges.resize(3 * n + 1);
        leftActive.resize(n);
        rightActive.resize(n);
        reserveTests(std::min(2 * n, std::size_t{256}));
    }
    // The root's list order is the one pushing every primitive to the front of it gave.
    for (int i = 0; i < count; ++i) {
        describe(buildPrimitives[static_cast<std::size_t>(i)], asTriangle(scene.primitives[static_cast<std::size_t>(i)]));
        nodeIndices[static_cast<std::size_t>(i)] = count - 1 - i;
    }
    subdivide(root.get(), Box{scene.boundsMin, scene.boundsSize}, 0, 0, count);
    // A tree of many primitives is an object's, built once: its scratch would outweigh the tree, and
    // goes before the flat copy is made.
    if (count > keptScratchLimit) {
        const auto release = [](auto& v) { std::remove_reference_t<decltype(v)>().swap(v); };
        release(splitPrimitives);
        release(buildPrimitives);
        release(nodeIndices);
        release(candidates);
        release(events);
        release(eventStart);
        release(leftChanges);
        release(rightChanges);
        release(leftActive);
        release(rightActive);
        for (std::vector<float>& coordinates : testCorners)
            release(coordinates);
        release(testRight);
        release(testPrimitive);
        release(testAnswer);
    }
    flatten();
    if (count > keptScratchLimit) {
        std::vector<LeafLane>().swap(m_leafLanes);
        std::vector<std::int32_t>().swap(m_leafGroups);
    }
}

// Room for tests queued at one candidate, and the padding to whole vectors.
void KdTree::reserveTests(std::size_t tests) {
    const std::size_t size = tests + widestVector;
    if (testRight.size() >= size)
        return;
    for (std::vector<float>& coordinates : testCorners)
        coordinates.resize(size);
    testRight.resize(size);
    testPrimitive.resize(size);
    testAnswer.resize(size);
}

// The leaf's list in the order of its index list.
void KdTree::makeLeafList(KdNode* leaf, int first, int count) {
    for (int i = first + count; i-- > first;) {
        KdListElement* element = m_pool.takeElement();
        element->primitive = m_scene->primitives[static_cast<std::size_t>(nodeIndices[static_cast<std::size_t>(i)])];
        pushFront(m_pool, leaf, element);
    }
}

void KdTree::subdivide(KdNode* node, const Box& box, int depth, int first, int count) {
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
    float* const positions = candidates.data();
    int candidateCount = 0;
    float firstZero = std::numeric_limits<float>::quiet_NaN();
    for (int i = 0; i < count; ++i) {
        SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(i)];
        p.data = &buildPrimitives[static_cast<std::size_t>(nodeIndices[static_cast<std::size_t>(first + i)])];
        p.extentMin = p.data->extentMin[axis];
        p.extentMax = p.data->extentMax[axis];
        findSureRange(p, box, axis, boxMagnitude, depth > 0);
        for (const Vector3& corner : p.data->corners) {
            const float x = corner[axis];
            if (!(lo <= x && x <= hi))
                continue;
            positions[candidateCount++] = x;
            if (x == 0.0f && std::isnan(firstZero))
                firstZero = x;
        }
    }
    std::sort(positions, positions + candidateCount);
    candidateCount = static_cast<int>(std::unique(positions, positions + candidateCount) - positions);
    if (!std::isnan(firstZero))
        *std::lower_bound(positions, positions + candidateCount, 0.0f) = firstZero;

    // A primitive counts left at a candidate when its extent begins at or below it, reaches the node and
    // it overlaps the left box, or when it has missed the right box of an earlier candidate: from then on
    // it is left of every higher candidate untested. It counts right when it has not, its extent ends at
    // or above the candidate, reaches the node and it overlaps the right box. Within its sure range
    // that comes without a test; the primitive is tested for the left box only at candidates from its
    // extent's beginning to leftSure, and for the right box only from rightSure to its extent's end,
    // which for most primitives are a few candidates at the ends of their extents. Windows open and
    // close at candidate indices: events 4k + kind, bucketed by index.
    //
    // A primitive whose windows would be long, as a sliver's or a degenerate triangle's without a sure
    // range, has its counts found before the sweep instead, as changes at candidate indices: it counts
    // right below the first candidate whose right box it misses (certainly below rightSure), and left
    // from the one after it on, and before that where the left test holds (certainly from leftSure on).
    enum : std::int32_t { leftOpens, leftCloses, rightOpens, rightCloses };
    std::int32_t* const start = eventStart.data();
    std::fill(start, start + candidateCount + 3, 0);
    std::fill(leftChanges.begin(), leftChanges.begin() + candidateCount + 1, 0);
    std::fill(rightChanges.begin(), rightChanges.begin() + candidateCount + 1, 0);
    const CandidateBoxes boxes(positions, box, axis);
    const auto change = [](std::vector<std::int32_t>& changes, int begin, int end) {
        if (begin < end) {
            ++changes[static_cast<std::size_t>(begin)];
            --changes[static_cast<std::size_t>(end)];
        }
    };
    const auto findCounts = [&](const SplitPrimitive& p) {
        const bool bounded = boxMagnitude <= maxMagnitude && p.data->magnitude <= maxMagnitude;
        int missed = candidateCount;
        if (hi >= p.extentMin) {
            const auto right = [&](int begin, int, bool answer) {
                missed = answer ? missed : begin;
                return answer;
            };
            boxes.resolve(*p.data, bounded, 1, p.at[rightOpens], p.at[rightCloses], right);
            change(rightChanges, 0, std::min(missed, p.at[rightCloses]));
        } else {
            change(rightChanges, 0, p.at[rightOpens]);
        }
        const int leftFrom = std::min(p.at[leftCloses], missed + 1);
        change(leftChanges, leftFrom, candidateCount);
        if (lo <= p.extentMax) {
            const auto left = [&](int begin, int end, bool answer) {
                if (answer)
                    change(leftChanges, begin, end);
                return true;
            };
            boxes.resolve(*p.data, bounded, 0, p.at[leftOpens], leftFrom, left);
        }
    };
    int found = 0;
    for (int k = 0; k < count; ++k) {
        SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
        findWindows(positions, candidateCount, p);
        p.leftSlot = -1;
        p.rightSlot = -1;
        p.stillRight = true;
        if (p.at[leftCloses] - p.at[leftOpens] + p.at[rightCloses] - p.at[rightOpens] > longWindows) {
            findCounts(p);
            ++found;
            // Its events fall past the last candidate, so the sweep never meets it.
            std::fill(p.at, p.at + 4, candidateCount);
        }
        for (const std::int32_t index : p.at)
            ++start[index + 2];
    }
    for (int j = 2; j < candidateCount + 3; ++j)
        start[j] += start[j - 1];
    for (int k = 0; k < count; ++k) {
        for (std::int32_t kind = 0; kind < 4; ++kind)
            events[static_cast<std::size_t>(
                start[splitPrimitives[static_cast<std::size_t>(k)].at[kind] + 1]++)] = 4 * k + kind;
    }

    const auto join = [&](std::vector<std::int32_t>& list, int& size, std::int32_t& slot, std::int32_t k) {
        if (slot < 0) {
            slot = size;
            list[static_cast<std::size_t>(size++)] = k;
        }
    };
    const auto leave = [&](std::vector<std::int32_t>& list, int& size, std::int32_t SplitPrimitive::*slot,
                           std::int32_t k) {
        const std::int32_t at = splitPrimitives[static_cast<std::size_t>(k)].*slot;
        if (at >= 0) {
            const std::int32_t last = list[static_cast<std::size_t>(--size)];
            list[static_cast<std::size_t>(at)] = last;
            splitPrimitives[static_cast<std::size_t>(last)].*slot = at;
            splitPrimitives[static_cast<std::size_t>(k)].*slot = -1;
        }
    };

    // Surface area heuristic: a split costs 0.3 plus the primitives of each side weighted by the chance
    // that a ray through the node also passes that side, the ratio of surface areas.
    const float q = 0.5f / halfArea(s);
    // No cap on the first cost taken: with one, a node of some 17,000 primitives or more, where every
    // split costs more, was split at 0 between two empty boxes and each side made a leaf of them all.
    float best = infinity;
    float bestPosition = 0.0f;
    Box bestLeft{};
    Box bestRight{};
    int leftCertain = 0;              // primitives left of the candidate without a test
    int rightCertain = count - found; // and right of it, less those whose right window has opened
    int leftFound = 0;                // those found before the sweep, left and right
    int rightFound = 0;
    int leftSize = 0;
    int rightSize = 0;
    for (int j = 0; j < candidateCount; ++j) {
        leftFound += leftChanges[static_cast<std::size_t>(j)];
        rightFound += rightChanges[static_cast<std::size_t>(j)];
        for (int event = start[j]; event < start[j + 1]; ++event) {
            const std::int32_t k = events[static_cast<std::size_t>(event)] / 4;
            SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
            switch (events[static_cast<std::size_t>(event)] % 4) {
            case leftOpens:
                if (j < p.at[leftCloses])
                    join(leftActive, leftSize, p.leftSlot, k);
                break;
            case leftCloses:
                ++leftCertain;
                leave(leftActive, leftSize, &SplitPrimitive::leftSlot, k);
                break;
            case rightOpens:
                --rightCertain;
                if (j < p.at[rightCloses])
                    join(rightActive, rightSize, p.rightSlot, k);
                break;
            default:
                leave(rightActive, rightSize, &SplitPrimitive::rightSlot, k);
            }
        }
        const float position = positions[j];
        Box left = box;
        left.size[axis] = position - lo;
        Box right = box;
        right.min[axis] = position;
        right.size[axis] = hi - position;
        const Vector3 half[2] = {left.size * 0.5f, right.size * 0.5f};
        const Vector3 centre[2] = {left.min + half[0], right.min + half[1]};
        // This candidate's tests, queued and run together. The left tests read stillRight as it was
        // before this candidate's right tests.
        int tests = 0;
        reserveTests(2 * static_cast<std::size_t>(leftSize + rightSize));
        const auto queue = [&](std::int32_t k, std::int32_t side) {
            const SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
            for (int corner = 0; corner < 3; ++corner) {
                for (int coordinate = 0; coordinate < 3; ++coordinate)
                    testCorners[static_cast<std::size_t>(3 * corner + coordinate)]
                               [static_cast<std::size_t>(tests)] = p.data->corners[corner][coordinate];
            }
            testRight[static_cast<std::size_t>(tests)] = side;
            testPrimitive[static_cast<std::size_t>(tests++)] = k;
        };
        int leftCount = leftCertain + leftFound;
        for (int w = 0; w < leftSize; ++w) {
            const std::int32_t k = leftActive[static_cast<std::size_t>(w)];
            const SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
            if (!p.stillRight)
                ++leftCount;
            else if (p.extentMin <= position && lo <= p.extentMax)
                queue(k, 0);
        }
        const int leftTests = tests;
        for (int w = 0; w < rightSize; ++w) {
            const std::int32_t k = rightActive[static_cast<std::size_t>(w)];
            if (hi >= splitPrimitives[static_cast<std::size_t>(k)].extentMin)
                queue(k, 1);
        }
        overlapsAll(testCorners, testRight.data(), (tests + widestVector - 1) / widestVector * widestVector,
                    centre, half, testAnswer.data());
        int rightCount = rightCertain + rightFound;
        for (int t = 0; t < tests; ++t) {
            if (t < leftTests) {
                leftCount += testAnswer[static_cast<std::size_t>(t)];
            } else if (testAnswer[static_cast<std::size_t>(t)] != 0) {
                ++rightCount;
            } else {
                // Left of every later candidate: tested no more for the right box, and counted left
                // without a test below its sure range too.
                const std::int32_t k = testPrimitive[static_cast<std::size_t>(t)];
                SplitPrimitive& p = splitPrimitives[static_cast<std::size_t>(k)];
                p.stillRight = false;
                leave(rightActive, rightSize, &SplitPrimitive::rightSlot, k);
                if (j + 1 < p.at[leftCloses])
                    join(leftActive, leftSize, p.leftSlot, k);
            }
        }
        const float cost = (halfArea(right.size) * 2.0f * q * static_cast<float>(rightCount) +
                            halfArea(left.size) * 2.0f * q * static_cast<float>(leftCount)) +
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
        makeLeafList(node, first, count);
        return;
    }

    node->split = bestPosition;
    KdNode* const leftChild = m_pool.takePair();
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
    const Vector3 nodeHalf = box.size * 0.5f;
    const Vector3 nodeCentre = box.min + nodeHalf;
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

    node->link = (m_pool.reference(leftChild) << KdNode::referenceShift) | static_cast<std::uint32_t>(axis);

    // The left subtree reuses the scratch arrays and the candidate store; from here on this node needs
    // only its children, the two boxes and the two index lists, all held outside them.
    if (depth < maxDepth && leftCount > 2)
        subdivide(leftChild, bestLeft, depth + 1, leftFirst, leftCount);
    else
        makeLeafList(leftChild, leftFirst, leftCount);
    if (depth < maxDepth && rightCount > 2)
        subdivide(rightChild, bestRight, depth + 1, rightFirst, rightCount);
    else
        makeLeafList(rightChild, rightFirst, rightCount);
}

} // namespace Raytracer
