#include "animation/RobotState.h"

namespace Raytracer {

const char* robotStateName(const RobotState& state) {
    if (!state.robotAnimationOn) {
        return "Stoped";
    }
    if (state.loop) {
        return "Loop";
    }
    if (state.crouch) {
        return "Crouch";
    }
    if (state.walk) {
        return "Walk";
    }
    if (state.jump) {
        return "Jump";
    }
    return "";
}

} // namespace Raytracer
