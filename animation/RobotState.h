#pragma once

namespace Raytracer {

// The robot's commanded state, set by the keys and applied by the next animated frame. The keys set
// at most one of loop, walk, jump and crouch at a time.
struct RobotState {
    bool walk = false;
    bool jump = false;
    bool crouch = false;
    bool loop = true;             // plays the whole animation
    bool robotAnimationOn = true; // false: the robot holds its last pose ("Stoped")
    bool resetAnimation = false;  // restart at time 0 in Loop on the next frame
};

// The overlay's name for the state, or an empty string when no state flag is set.
const char* robotStateName(const RobotState& state);

} // namespace Raytracer
