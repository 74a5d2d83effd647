#pragma once

#include <string>

namespace Raytracer::Scenegen {

// Every MilkShape distance is multiplied by this when a model is loaded.
constexpr double modelFileScale = 0.4;
// The margin by which a joint's proxy box exceeds its mesh on every side.
constexpr double jointBoxMargin = 0.02;
// Frames per second of the robot's keys: key time in seconds x this = frame.
constexpr double cylonFramesPerSecond = 24.0;
// The robot's timeline in frames: a walk cycle, a jump and a crouch that each loop, and a closing
// sequence that ends in the pose of frame 0.
constexpr double cylonWalkStart = 3.0;
constexpr double cylonWalkEnd = 13.0;
constexpr double cylonJumpStart = 29.0;
constexpr double cylonJumpEnd = 41.0;
constexpr double cylonCrouchStart = 56.0;
constexpr double cylonCrouchEnd = 76.0;
constexpr double cylonLastFrame = 228.0;

// Writes cylon, ball, star and 2ball (.ms3d and companion .obj) and their shared models.mtl into
// directory, which must exist. Throws std::runtime_error when a file cannot be written.
void writeModels(const std::string& directory);

} // namespace Raytracer::Scenegen
