#include "math/Quaternion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace Raytracer {
namespace {

constexpr float halfSqrt2 = 0.70710678f;

void expectNear(const Vector3& expected, const Vector3& actual, float tolerance = 1e-6f) {
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

Quaternion aboutAxis(const Vector3& axis, float angle) {
    const Vector3 n = normalize(axis);
    const float s = std::sin(angle / 2.0f);
    return {std::cos(angle / 2.0f), n.x * s, n.y * s, n.z * s};
}

TEST(Quaternion, MultiplyIsHamiltonProductAndNotCommutative) {
    const Quaternion q(0.5f, -0.5f, 0.5f, 0.5f);
    EXPECT_EQ(q, multiply(Quaternion(), q));
    EXPECT_EQ(q, multiply(q, Quaternion()));

    const Quaternion a(halfSqrt2, halfSqrt2, 0, 0); // 90 degrees about x
    const Quaternion b(halfSqrt2, 0, halfSqrt2, 0); // 90 degrees about y
    const Quaternion ab = multiply(a, b);
    const Quaternion ba = multiply(b, a);
    EXPECT_NE(ab, ba);
    // i * j = k and j * i = -k, scaled by the half-angle cosines.
    EXPECT_NEAR(ab.z, 0.5f, 1e-6f);
    EXPECT_NEAR(ba.z, -0.5f, 1e-6f);
}

TEST(Quaternion, RotateTurnsVectorsAsAxisAngle) {
    expectNear({1, 2, 3}, Quaternion().rotate({1, 2, 3}), 0.0f);
    expectNear({0, 1, 0}, Quaternion(halfSqrt2, 0, 0, halfSqrt2).rotate({1, 0, 0}));
    // 90 degrees about y takes z to x (right-handed).
    expectNear({1, 0, 0}, aboutAxis({0, 1, 0}, 1.5707964f).rotate({0, 0, 1}));
}

TEST(Quaternion, InverseRotateUndoesRotateForRandomUnitQuaternions) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 200; ++i) {
        const Quaternion q = aboutAxis({unit(random), unit(random), unit(random)}, 3.0f * unit(random));
        const Vector3 v(unit(random), unit(random), unit(random));
        expectNear(v, q.inverseRotate(q.rotate(v)), 1e-5f);
        // A rotation keeps lengths.
        EXPECT_NEAR(v.length(), q.rotate(v).length(), 1e-5f);
    }
}

TEST(Quaternion, AxisRescalesOrKeepsTheVectorPart) {
    Quaternion big(2, 0, 0, 0);
    expectNear({0, 0, 0}, big.axis(), 0.0f);
    EXPECT_EQ(Quaternion(1, 0, 0, 0), big); // normalised in place

    // sqrt(1 - w^2) is below 0.001: the vector part comes back unscaled.
    Quaternion nearIdentity(0.9999999f, 0.0001f, 0, 0);
    expectNear({0.0001f, 0, 0}, nearIdentity.axis(), 0.0f);

    Quaternion half(0.5f, 0.5f, 0.5f, 0.5f);
    const float s = std::sqrt(0.75f);
    expectNear({0.5f / s, 0.5f / s, 0.5f / s}, half.axis());
    EXPECT_EQ(Quaternion(0.5f, 0.5f, 0.5f, 0.5f), half); // w <= 1 leaves the quaternion alone

    // A w below -1 is not rescaled; s is NaN and the vector part passes through.
    Quaternion negative(-2, 1, 0, 0);
    expectNear({1, 0, 0}, negative.axis(), 0.0f);
    EXPECT_EQ(-2.0f, negative.w);
}

TEST(Quaternion, SlerpEndpointsAndShortestArc) {
    const Quaternion a = aboutAxis({0, 0, 1}, 0.2f);
    const Quaternion b = aboutAxis({0, 0, 1}, 2.0f);
    const Quaternion at0 = slerp(a, b, 0.0f);
    const Quaternion at1 = slerp(a, b, 1.0f);
    EXPECT_NEAR(a.w, at0.w, 1e-6f);
    EXPECT_NEAR(a.z, at0.z, 1e-6f);
    EXPECT_NEAR(b.w, at1.w, 1e-6f);
    EXPECT_NEAR(b.z, at1.z, 1e-6f);
    // Halfway along the arc is the rotation by the mean angle.
    const Quaternion mid = slerp(a, b, 0.5f);
    const Quaternion expected = aboutAxis({0, 0, 1}, 1.1f);
    EXPECT_NEAR(expected.w, mid.w, 1e-6f);
    EXPECT_NEAR(expected.z, mid.z, 1e-6f);

    // -a is the same rotation: the blend never leaves a.
    const Quaternion minusA(-a.w, -a.x, -a.y, -a.z);
    for (const float t : {0.0f, 0.3f, 1.0f}) {
        const Quaternion r = slerp(a, minusA, t);
        EXPECT_NEAR(a.w, r.w, 1e-6f);
        EXPECT_NEAR(a.z, r.z, 1e-6f);
    }
}

TEST(Quaternion, SlerpSwitchesToNlerpAtDotProductPointNineFive) {
    // Unit quaternions with a dot product of exactly 0.95f and just below it.
    const Quaternion a(1, 0, 0, 0);
    const float d = 0.95f;
    const Quaternion b(d, std::sqrt(1.0f - d * d), 0, 0);
    ASSERT_EQ(d, a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z);
    EXPECT_EQ(nlerp(a, b, 0.3f), slerp(a, b, 0.3f));

    const float below = std::nextafter(d, 0.0f);
    const Quaternion c(below, std::sqrt(1.0f - below * below), 0, 0);
    const Quaternion viaAcos = slerp(a, c, 0.3f);
    const float theta = std::acos(below);
    EXPECT_NEAR(std::cos(0.3f * theta), viaAcos.w, 1e-6f);
    EXPECT_NE(nlerp(a, c, 0.3f), viaAcos);
}

} // namespace
} // namespace Raytracer
