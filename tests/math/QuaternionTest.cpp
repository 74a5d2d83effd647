#include "math/Quaternion.h"
#include "math/ModelMath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Raytracer {
namespace {

Quaternion aboutZ(float angle) {
    return {std::cos(angle / 2), 0, 0, std::sin(angle / 2)};
}

Quaternion pure(const Vector3& v) {
    return {0, v.x, v.y, v.z};
}

// The model-file routines keep x, y, z, w: through a matrix and back, and from fixed-axis angles.
Quaternion throughMatrix(float x, float y, float z, float w) {
    const float q[4] = {x, y, z, w};
    Matrix3x4 m;
    quaternionToMatrix(q, m);
    float back[4];
    matrixToQuaternion(back, m);
    return {back[3], back[0], back[1], back[2]};
}

Quaternion fromAngles(float x, float y, float z) {
    const float angles[3] = {x, y, z};
    float q[4];
    eulerToQuaternion(angles, q);
    return {q[3], q[0], q[1], q[2]};
}

// Each row: what a routine gives and what was worked out by hand, as w, x, y, z (a vector as 0, x, y, z).
TEST(Quaternion, RoutinesGiveHandWorkedValues) {
    const float h = 0.70710678f, below = std::nextafter(0.95f, 0.0f), theta = std::acos(below);
    const Quaternion one, z90(h, 0, 0, h);
    // Dot products with one of exactly 0.95, where slerp switches to nlerp, and just below it.
    const Quaternion at(0.95f, std::sqrt(1 - 0.95f * 0.95f), 0, 0),
        under(below, std::sqrt(1 - below * below), 0, 0);
    Quaternion big(2, 0, 0, 0);
    const Quaternion rows[][2] = {
        {slerp(aboutZ(0.2f), aboutZ(2.0f), 0.25f), aboutZ(0.65f)},
        {slerp(z90, Quaternion(-h, 0, 0, -h), 0.3f), z90}, // -q is the same rotation: the short arc stays put
        {slerp(one, at, 0.3f), nlerp(one, at, 0.3f)},
        {slerp(one, under, 0.3f), Quaternion(std::cos(0.3f * theta), std::sin(0.3f * theta), 0, 0)},
        {pure(z90.rotate({1, 0, 0})), pure({0, 1, 0})},
        {pure(z90.inverseRotate({1, 0, 0})), pure({0, -1, 0})},
        {pure(Quaternion(0.9999999f, 0.0001f, 0, 0).axis()), pure({0.0001f, 0, 0})}, // sqrt(1 - w^2) < 0.001
        {pure(Quaternion(-2, 1, 0, 0).axis()), pure({1, 0, 0})},                     // NaN scale: unscaled
        {pure(big.axis()), Quaternion(0, 0, 0, 0)}, // w above 1: renormalised in place first
        {big, one},
        // One rotation for each branch of the trace method: the trace positive, then x, y or z the
        // largest diagonal entry.
        {throughMatrix(0.2f, 0.4f, 0.4f, 0.8f), {0.8f, 0.2f, 0.4f, 0.4f}},
        {throughMatrix(0.8f, 0.4f, 0.2f, 0.4f), {0.4f, 0.8f, 0.4f, 0.2f}},
        {throughMatrix(0.4f, 0.8f, 0.2f, 0.4f), {0.4f, 0.4f, 0.8f, 0.2f}},
        {throughMatrix(0.2f, 0.4f, 0.8f, 0.4f), {0.4f, 0.2f, 0.4f, 0.8f}},
        {fromAngles(0.3f, -0.7f, 1.1f), // about fixed axes x, then y, then z: Qz Qy Qx
         multiply(aboutZ(1.1f), multiply(Quaternion(std::cos(-0.35f), 0, std::sin(-0.35f), 0),
                                         Quaternion(std::cos(0.15f), std::sin(0.15f), 0, 0)))},
    };
    for (const auto& [actual, expected] : rows)
        for (const auto part : {&Quaternion::w, &Quaternion::x, &Quaternion::y, &Quaternion::z})
            EXPECT_NEAR(expected.*part, actual.*part, 1e-6f) << "row " << (&actual - &rows[0][0]) / 2;
}

// Angles back from a quaternion: the same angles inside their ranges, and at y = +-pi/2, where only x - z
// counts, the same rotation.
TEST(Quaternion, EulerAnglesComeBackFromModelFileQuaternions) {
    const float halfPi = 1.5707964f;
    const float rows[][3] = {
        {0.3f, -0.7f, 1.1f}, {-2.5f, 1.2f, 3.0f}, {0, 0, 0}, {0.4f, halfPi, 0.1f}, {1, -halfPi, 2}};
    for (const auto& angles : rows) {
        const Quaternion q = fromAngles(angles[0], angles[1], angles[2]);
        const float xyzw[4] = {q.x, q.y, q.z, q.w};
        float back[3];
        quaternionToEuler(xyzw, back);
        const Quaternion again = fromAngles(back[0], back[1], back[2]);
        EXPECT_NEAR(1.0f, std::fabs(q.w * again.w + q.x * again.x + q.y * again.y + q.z * again.z), 1e-6f);
        if (std::fabs(angles[1]) < 1.5f) {
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(angles[i], back[i], 1e-5f);
        }
    }
}

} // namespace
} // namespace Raytracer
