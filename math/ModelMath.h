#pragma once

namespace Raytracer {

// The model-file family: plain arrays as MilkShape stores them, used only while an articulated model is
// built. Quaternion arrays hold x, y, z, w (scalar LAST), unlike the run-time Quaternion.
// A Matrix3x4 is row-major; columns 0-2 rotate, column 3 translates a column vector.
using Matrix3x4 = float[3][4];

// Angles in radians about x, then y, then z (fixed axes): Qz * Qy * Qx.
void eulerToQuaternion(const float angles[3], float quaternion[4]);

// The inverse of eulerToQuaternion for a unit quaternion: angles about x and z in [-pi, pi], about y
// in [-pi/2, pi/2]. Used when keys are resampled and written back to a model file.
void quaternionToEuler(const float quaternion[4], float angles[3]);

// Writes the nine rotation entries only; column 3 keeps what it held.
void quaternionToMatrix(const float quaternion[4], Matrix3x4 matrix);

// Trace method; reads the rotation entries only. Output first, as callers have always passed it.
void matrixToQuaternion(float quaternion[4], const Matrix3x4 matrix);

// out = a composed with b (b applied first). out must not alias a or b.
void concatTransforms(const Matrix3x4 a, const Matrix3x4 b, Matrix3x4 out);

} // namespace Raytracer
