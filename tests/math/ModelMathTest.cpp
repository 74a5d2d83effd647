#include "math/ModelMath.h"
#include "math/Quaternion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace Raytracer {
namespace {

TEST(ModelMath, ZeroAnglesGiveTheIdentity) {
    const float angles[3] = {0, 0, 0};
    float q[4];
    eulerToQuaternion(angles, q);
    EXPECT_EQ(0.0f, q[0]);
    EXPECT_EQ(0.0f, q[1]);
    EXPECT_EQ(0.0f, q[2]);
    EXPECT_EQ(1.0f, q[3]);

    Matrix3x4 m = {{9, 9, 9, 7}, {9, 9, 9, 8}, {9, 9, 9, 9}};
    quaternionToMatrix(q, m);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(i == j ? 1.0f : 0.0f, m[i][j]);
        }
    }
    // The translation column is the caller's.
    EXPECT_EQ(7.0f, m[0][3]);
    EXPECT_EQ(8.0f, m[1][3]);
    EXPECT_EQ(9.0f, m[2][3]);

    float back[4];
    matrixToQuaternion(back, m);
    EXPECT_EQ(0.0f, back[0]);
    EXPECT_EQ(0.0f, back[1]);
    EXPECT_EQ(0.0f, back[2]);
    EXPECT_EQ(1.0f, back[3]);
}

TEST(ModelMath, HalfTurnAboutYIsRecoveredFromTheYDiagonal) {
    // Trace -1: the diagonal test picks y as the largest component.
    const Matrix3x4 m = {{-1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, -1, 0}};
    float q[4];
    matrixToQuaternion(q, m);
    EXPECT_NEAR(0.0f, q[0], 1e-7f);
    EXPECT_NEAR(1.0f, q[1], 1e-7f);
    EXPECT_NEAR(0.0f, q[2], 1e-7f);
    EXPECT_NEAR(0.0f, q[3], 1e-7f);
}

TEST(ModelMath, EulerAnglesRotateAboutFixedAxesXThenYThenZ) {
    const float angles[3] = {0.3f, -0.7f, 1.1f};
    float q[4];
    eulerToQuaternion(angles, q);
    const Quaternion composed = multiply(Quaternion(std::cos(0.55f), 0, 0, std::sin(0.55f)),
                                         multiply(Quaternion(std::cos(-0.35f), 0, std::sin(-0.35f), 0),
                                                  Quaternion(std::cos(0.15f), std::sin(0.15f), 0, 0)));
    EXPECT_NEAR(composed.x, q[0], 1e-6f);
    EXPECT_NEAR(composed.y, q[1], 1e-6f);
    EXPECT_NEAR(composed.z, q[2], 1e-6f);
    EXPECT_NEAR(composed.w, q[3], 1e-6f);
}

TEST(ModelMath, MatrixAndQuaternionAgreeForRandomRotations) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> angle(-3.1f, 3.1f);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 500; ++i) {
        const float angles[3] = {angle(random), angle(random), angle(random)};
        float q[4];
        eulerToQuaternion(angles, q);
        Matrix3x4 m = {};
        quaternionToMatrix(q, m);

        // The matrix turns a vector as the quaternion does.
        const Vector3 v(unit(random), unit(random), unit(random));
        const Vector3 byQuaternion = Quaternion(q[3], q[0], q[1], q[2]).rotate(v);
        EXPECT_NEAR(byQuaternion.x, m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z, 1e-5f);
        EXPECT_NEAR(byQuaternion.y, m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z, 1e-5f);
        EXPECT_NEAR(byQuaternion.z, m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z, 1e-5f);

        // Every branch of the trace method recovers the rotation up to the sign of q.
        float back[4];
        matrixToQuaternion(back, m);
        const float sign =
            back[3] * q[3] + back[0] * q[0] + back[1] * q[1] + back[2] * q[2] < 0 ? -1.0f : 1.0f;
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(q[k], sign * back[k], 2e-5f) << "component " << k << " of case " << i;
        }
    }
}

TEST(ModelMath, ConcatAppliesTheRightMatrixFirst) {
    // a: translate by (1, 2, 3); b: quarter turn about z.
    const Matrix3x4 a = {{1, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}};
    const Matrix3x4 b = {{0, -1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}};
    Matrix3x4 ab;
    concatTransforms(a, b, ab);
    // (1, 0, 0) turns to (0, 1, 0) first, then moves to (1, 3, 3).
    const float p[3] = {1, 0, 0};
    float out[3];
    for (int i = 0; i < 3; ++i) {
        out[i] = ab[i][0] * p[0] + ab[i][1] * p[1] + ab[i][2] * p[2] + ab[i][3];
    }
    EXPECT_EQ(1.0f, out[0]);
    EXPECT_EQ(3.0f, out[1]);
    EXPECT_EQ(3.0f, out[2]);

    Matrix3x4 ba;
    concatTransforms(b, a, ba);
    EXPECT_EQ(-2.0f, ba[0][3]); // the translation is turned too
    EXPECT_EQ(1.0f, ba[1][3]);
}

} // namespace
} // namespace Raytracer
