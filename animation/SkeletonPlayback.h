#pragma once

#include "math/Quaternion.h"
#include "math/Vector3.h"

namespace Raytracer {

class Joint;

// Sets the local position and rotation of joint and of all its descendants from their keys at time t
// (in frames). Translation is an eased Hermite blend between the two keys around t, rotation a slerp;
// before the first key the first one holds, at or after the last the last one.
// A joint without translation keys keeps its current position, one without rotation keys its current
// rotation: such a joint has nothing to play and stays in whatever pose it has.
// A zero-length interval (two keys at the same time, t on it) takes its first key instead of 0/0.
void animateSkeleton(Joint& joint, float t);

// Poses the proxy of joint and of all its descendants: the joint's local transform composed after the
// parent's world transform (position parentPosition, rotation parentRotation) becomes the proxy's
// transform, and the proxy's box is moved there. A joint without a proxy is composed but not moved.
void poseSkeleton(Joint& joint, const Vector3& parentPosition, const Quaternion& parentRotation);

} // namespace Raytracer
