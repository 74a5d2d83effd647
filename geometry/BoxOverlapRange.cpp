#include "geometry/BoxOverlapRange.h"

#include <algorithm>
#include <cmath>

namespace Raytracer {

namespace {

using R = FloatRange;

[[gnu::always_inline]] inline R operator+(R a, R b) {
    return {a.low + b.low, a.high + b.high};
}
[[gnu::always_inline]] inline R operator-(R a, R b) {
    return {a.low - b.high, a.high - b.low};
}
[[gnu::always_inline]] inline R operator-(R a) {
    return {-a.high, -a.low};
}
[[gnu::always_inline]] inline R operator*(R a, R b) {
    const float p[4] = {a.low * b.low, a.low * b.high, a.high * b.low, a.high * b.high};
    return {std::min({p[0], p[1], p[2], p[3]}), std::max({p[0], p[1], p[2], p[3]})};
}
[[gnu::always_inline]] inline R magnitude(R a) {
    if (a.low >= 0.0f)
        return a;
    if (a.high <= 0.0f)
        return -a;
    return {0.0f, std::max(-a.low, a.high)};
}
[[gnu::always_inline]] inline R lower(R a, R b) {
    return {std::min(a.low, b.low), std::min(a.high, b.high)};
}
[[gnu::always_inline]] inline R upper(R a, R b) {
    return {std::max(a.low, b.low), std::max(a.high, b.high)};
}
[[gnu::always_inline]] inline R hull(R a, R b) {
    return {std::min(a.low, b.low), std::max(a.high, b.high)};
}

// A comparison or a combination of comparisons over the ranges: which answers it can give.
struct Maybe {
    bool canBeTrue;
    bool canBeFalse;
};
[[gnu::always_inline]] inline Maybe operator|(Maybe a, Maybe b) {
    return {a.canBeTrue || b.canBeTrue, a.canBeFalse && b.canBeFalse};
}
[[gnu::always_inline]] inline Maybe greater(R a, R b) {
    return {a.high > b.low, a.low <= b.high};
}
[[gnu::always_inline]] inline Maybe greaterOrEqual(R a, R b) {
    return {a.high >= b.low, a.low < b.high};
}
[[gnu::always_inline]] inline Maybe less(R a, R b) {
    return {a.low < b.high, a.high >= b.low};
}

// fl(fl(q - c) - fl(p - c)), an edge coordinate on the varying axis, given the ranges tq and tp of the
// two translated corners. Their difference alone would spread with the range of c, though c cancels:
// each translation is off by at most half a unit in its last place, under 2^-24 of its magnitude
// (2^-149 below the normal range), so the exact difference lies within that of q - p, taken in double
// with room for the double's own roundings. Rounding a lower bound to nearest bounds the rounded
// difference from below, and so for the upper bound.
R translatedDifference(float q, float p, R tq, R tp) {
    const R plain = tq - tp;
    const double error =
        (static_cast<double>(std::max(-tq.low, tq.high)) + static_cast<double>(std::max(-tp.low, tp.high))) *
            0x1p-24 +
        0x1p-148;
    const double difference = static_cast<double>(q) - static_cast<double>(p);
    const double room = (std::fabs(difference) + error) * 0x1p-50;
    return {std::max(plain.low, static_cast<float>(difference - error - room)),
            std::min(plain.high, static_cast<float>(difference + error + room))};
}

// A corner within the box on both axes of an edge test projects within its radius, the same rounded
// products bounding both (|fl(u * t)| <= fl(|u| * h) for |t| <= h), so the test cannot separate; the
// ranges alone would lose that the edge is the same on both sides.
[[gnu::always_inline]] inline Maybe separates(R p, R q, R rad, bool pInside, bool qInside) {
    if (pInside || qInside)
        return {false, true};
    return greater(lower(p, q), rad) | less(upper(p, q), -rad);
}

[[gnu::always_inline]] inline Maybe separatesOnAxis(R p, R q, R r, R half) {
    return greater(lower(lower(p, q), r), half) | less(upper(upper(p, q), r), -half);
}

struct RangeVector {
    R x, y, z;
};

[[gnu::always_inline]] inline RangeVector cross(const RangeVector& a, const RangeVector& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// n * (n > 0 ? positive : otherwise): each choice goes with its own sign of n.
[[gnu::always_inline]] inline R term(R n, R positive, R otherwise) {
    if (n.low > 0.0f)
        return n * positive;
    if (!(n.high > 0.0f))
        return n * otherwise;
    return hull(R{0.0f, n.high} * positive, R{n.low, 0.0f} * otherwise);
}

} // namespace

// triangleOverlapsBox, operation for operation, over ranges.
OverlapAnswers overlapOverRange(const Vector3& a, const Vector3& b, const Vector3& c, const FloatRange (&centre)[3],
                                const FloatRange (&half)[3], int axis) {
    const auto point = [](float v) { return R{v, v}; };
    R t[3][3];
    const Vector3* corners[3] = {&a, &b, &c};
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 3; ++i)
            t[k][i] = point((*corners[k])[i]) - centre[i];
    }
    RangeVector f[3];
    for (int k = 0; k < 3; ++k) {
        const int next = (k + 1) % 3;
        R d[3];
        for (int i = 0; i < 3; ++i)
            d[i] = i == axis ? translatedDifference((*corners[next])[i], (*corners[k])[i], t[next][i], t[k][i])
                             : t[next][i] - t[k][i];
        f[k] = {d[0], d[1], d[2]};
    }
    const RangeVector ta{t[0][0], t[0][1], t[0][2]};
    const RangeVector tb{t[1][0], t[1][1], t[1][2]};
    const RangeVector tc{t[2][0], t[2][1], t[2][2]};
    const RangeVector h{half[0], half[1], half[2]};
    const RangeVector& f0 = f[0];
    const RangeVector& f1 = f[1];
    const RangeVector& f2 = f[2];
    // in[k][i]: corner k lies within the box on axis i, whatever the box of the range.
    bool in[3][3];
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 3; ++i)
            in[k][i] = std::max(-t[k][i].low, t[k][i].high) <= half[i].low;
    }
    const auto inside = [&](int k, int u, int v) { return in[k][u] && in[k][v]; };

    const R f0x = magnitude(f0.x), f0y = magnitude(f0.y), f0z = magnitude(f0.z);
    Maybe apart = separates(f0.z * ta.y - f0.y * ta.z, f0.z * tc.y - f0.y * tc.z, f0z * h.y + f0y * h.z, inside(0, 1, 2), inside(2, 1, 2));
    apart = apart | separates(-f0.z * ta.x + f0.x * ta.z, -f0.z * tc.x + f0.x * tc.z, f0z * h.x + f0x * h.z, inside(0, 0, 2), inside(2, 0, 2));
    apart = apart | separates(f0.y * tb.x - f0.x * tb.y, f0.y * tc.x - f0.x * tc.y, f0y * h.x + f0x * h.y, inside(1, 0, 1), inside(2, 0, 1));

    const R f1x = magnitude(f1.x), f1y = magnitude(f1.y), f1z = magnitude(f1.z);
    apart = apart | separates(f1.z * ta.y - f1.y * ta.z, f1.z * tc.y - f1.y * tc.z, f1z * h.y + f1y * h.z, inside(0, 1, 2), inside(2, 1, 2));
    apart = apart | separates(-f1.z * ta.x + f1.x * ta.z, -f1.z * tc.x + f1.x * tc.z, f1z * h.x + f1x * h.z, inside(0, 0, 2), inside(2, 0, 2));
    apart = apart | separates(f1.y * ta.x - f1.x * ta.y, f1.y * tb.x - f1.x * tb.y, f1y * h.x + f1x * h.y, inside(0, 0, 1), inside(1, 0, 1));

    const R f2x = magnitude(f2.x), f2y = magnitude(f2.y), f2z = magnitude(f2.z);
    apart = apart | separates(f2.z * ta.y - f2.y * ta.z, f2.z * tb.y - f2.y * tb.z, f2z * h.y + f2y * h.z, inside(0, 1, 2), inside(1, 1, 2));
    apart = apart | separates(-f2.z * ta.x + f2.x * ta.z, -f2.z * tb.x + f2.x * tb.z, f2z * h.x + f2x * h.z, inside(0, 0, 2), inside(1, 0, 2));
    apart = apart | separates(f2.y * tb.x - f2.x * tb.y, f2.y * tc.x - f2.x * tc.y, f2y * h.x + f2x * h.y, inside(1, 0, 1), inside(2, 0, 1));

    apart = apart | separatesOnAxis(ta.x, tb.x, tc.x, h.x);
    apart = apart | separatesOnAxis(ta.y, tb.y, tc.y, h.y);
    apart = apart | separatesOnAxis(ta.z, tb.z, tc.z, h.z);

    const RangeVector n = cross(f0, f1);
    const R lowX = -h.x - ta.x, highX = h.x - ta.x;
    const R lowY = -h.y - ta.y, highY = h.y - ta.y;
    const R lowZ = -h.z - ta.z, highZ = h.z - ta.z;
    const Maybe nearSide =
        greater(term(n.x, lowX, highX) + term(n.y, lowY, highY) + term(n.z, lowZ, highZ), point(0.0f));
    const Maybe farSide =
        greaterOrEqual(term(n.x, highX, lowX) + term(n.y, highY, lowY) + term(n.z, highZ, lowZ), point(0.0f));
    // Overlap is !(apart | nearSide | !farSide).
    const Maybe missed = apart | nearSide | Maybe{farSide.canBeFalse, farSide.canBeTrue};
    return {missed.canBeFalse, missed.canBeTrue};
}

} // namespace Raytracer
