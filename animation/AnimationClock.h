#pragma once

#include "animation/RobotState.h"

namespace Raytracer {

class KdPool;
class Scene;

// The one tuning value of the animated models: the robot clock's advance per frame (in key-time
// frames), and also the scale applied to every MilkShape distance.
constexpr float modelTuning = 0.4f;

constexpr float twoPi = 6.2831855f;

// Animation time that persists from frame to frame.
struct AnimationClock {
    float robotTime = 0.0f;         // robot key time, in frames
    float orbitAngleA = 0.0f;       // radians
    float orbitAngleB = 3.1415927f; // radians
};

// Moves robotTime on by one frame according to the active state; the states are tested in the order
// loop, walk, jump, crouch, and each first jumps to the start of its range.
void advanceRobotTime(const RobotState& state, float& robotTime);

// The per-frame step, run by the frame driver after each finished frame while no worker runs:
// applies a reset request, advances and re-poses the robot (models[0]) when it animates, moves the
// ball, star and 2ball along their orbits and rebuilds the scene's top-level kd-tree over the moved
// proxies. Models that are not loaded are skipped. Allocates nothing.
void animationStep(RobotState& state, AnimationClock& clock, bool animating, Scene& scene, KdPool& pool);

} // namespace Raytracer
