#include "math/ModelMath.h"

#include <cmath>

namespace Raytracer {

void eulerToQuaternion(const float angles[3], float quaternion[4]) {
    const float hx = angles[0] / 2.0f;
    const float hy = angles[1] / 2.0f;
    const float hz = angles[2] / 2.0f;
    const float sr = std::sin(hx), cr = std::cos(hx);
    const float sp = std::sin(hy), cp = std::cos(hy);
    const float sy = std::sin(hz), cy = std::cos(hz);
    quaternion[0] = sr * cp * cy - cr * sp * sy;
    quaternion[1] = cr * sp * cy + sr * cp * sy;
    quaternion[2] = cr * cp * sy - sr * sp * cy;
    quaternion[3] = cr * cp * cy + sr * sp * sy;
}

void quaternionToEuler(const float quaternion[4], float angles[3]) {
    Matrix3x4 m;
    quaternionToMatrix(quaternion, m);
    // Qz * Qy * Qx puts -sin(y) in row 2, column 0; rounding may take it just past 1.
    const float sinY = std::fmax(-1.0f, std::fmin(1.0f, -m[2][0]));
    angles[1] = std::asin(sinY);
    if (std::fabs(sinY) < 0.99999f) {
        angles[0] = std::atan2(m[2][1], m[2][2]);
        angles[2] = std::atan2(m[1][0], m[0][0]);
    } else {
        // Gimbal lock: only x - z (or x + z) is determined, so z takes none of it.
        angles[0] = std::atan2(-m[1][2], m[1][1]);
        angles[2] = 0.0f;
    }
}

void quaternionToMatrix(const float quaternion[4], Matrix3x4 m) {
    const float x = quaternion[0], y = quaternion[1], z = quaternion[2], w = quaternion[3];
    m[0][0] = 1.0f - y * 2.0f * y - z * 2.0f * z;
    m[0][1] = x * 2.0f * y - w * 2.0f * z;
    m[0][2] = x * 2.0f * z + w * 2.0f * y;
    m[1][0] = x * 2.0f * y + w * 2.0f * z;
    m[1][1] = 1.0f - x * 2.0f * x - z * 2.0f * z;
    m[1][2] = y * 2.0f * z - w * 2.0f * x;
    m[2][0] = x * 2.0f * z - w * 2.0f * y;
    m[2][1] = y * 2.0f * z + w * 2.0f * x;
    m[2][2] = 1.0f - x * 2.0f * x - y * 2.0f * y;
}

void matrixToQuaternion(float quaternion[4], const Matrix3x4 m) {
    float x, y, z, w;
    const float trace = m[0][0] + m[1][1] + m[2][2];
    if (trace > 0.0f) {
        const float r = std::sqrt(trace + 1.0f);
        const float f = 0.5f / r;
        w = 0.25f / f;
        x = (m[2][1] - m[1][2]) * f;
        y = (m[0][2] - m[2][0]) * f;
        z = (m[1][0] - m[0][1]) * f;
    } else if (m[0][0] > m[1][1] && m[0][0] > m[2][2]) {
        const float s = 2.0f * std::sqrt(1.0f + m[0][0] - m[1][1] - m[2][2]);
        const float inv = 1.0f / s;
        x = 0.25f * s;
        w = (m[2][1] - m[1][2]) * inv;
        y = (m[1][0] + m[0][1]) * inv;
        z = (m[2][0] + m[0][2]) * inv;
    } else if (m[1][1] > m[2][2]) {
        const float s = 2.0f * std::sqrt(1.0f + m[1][1] - m[0][0] - m[2][2]);
        const float inv = 1.0f / s;
        y = 0.25f * s;
        w = (m[0][2] - m[2][0]) * inv;
        x = (m[1][0] + m[0][1]) * inv;
        z = (m[2][1] + m[1][2]) * inv;
    } else {
        const float s = 2.0f * std::sqrt(1.0f + m[2][2] - m[0][0] - m[1][1]);
        const float inv = 1.0f / s;
        z = 0.25f * s;
        w = (m[1][0] - m[0][1]) * inv;
        x = (m[2][0] + m[0][2]) * inv;
        y = (m[2][1] + m[1][2]) * inv;
    }
    quaternion[0] = x;
    quaternion[1] = y;
    quaternion[2] = z;
    quaternion[3] = w;
}

void concatTransforms(const Matrix3x4 a, const Matrix3x4 b, Matrix3x4 out) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
        }
        out[i][3] = a[i][0] * b[0][3] + a[i][1] * b[1][3] + a[i][2] * b[2][3] + a[i][3];
    }
}

} // namespace Raytracer
