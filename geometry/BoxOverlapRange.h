#pragma once

#include "math/Vector3.h"

namespace Raytracer {

// The values a float computation can take while its inputs vary within ranges: every operation of
// triangleOverlapsBox rounds to nearest, which is monotonic, so rounding the operation at the ends of
// its inputs' ranges bounds what it rounds to anywhere between, with no error term.
struct FloatRange {
    float low;
    float high;
};

// Whether triangleOverlapsBox(a, b, c, centre, half) can answer true, and whether it can answer false,
// for some box with its centre and half size on axis `axis` within the given ranges; on the other axes
// they are the single values centre[k].low and half[k].low. Only for corners and box coordinates
// within [-2^32, 2^32], where no product overflows; the caller keeps to them.
struct OverlapAnswers {
    bool canBeTrue;
    bool canBeFalse;
};
OverlapAnswers overlapOverRange(const Vector3& a, const Vector3& b, const Vector3& c, const FloatRange (&centre)[3],
                                const FloatRange (&half)[3], int axis);

} // namespace Raytracer
