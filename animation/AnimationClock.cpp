#include "animation/AnimationClock.h"

#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "scene/Scene.h"

namespace Raytracer {

void advanceRobotTime(const RobotState& state, float& robotTime) {
    if (state.loop) {
        // 228 is the last key of the loop; the wrap by 288 holds the first pose for about 150 frames.
        robotTime += modelTuning;
        if (robotTime > 228.0f) {
            robotTime -= 288.0f;
        }
    } else if (state.walk) {
        if (robotTime > 13.0f) {
            robotTime = 3.0f;
        } else {
            robotTime += modelTuning;
        }
    } else if (state.jump) {
        if (robotTime < 29.0f || robotTime > 41.0f) {
            robotTime = 29.0f;
        } else {
            robotTime += modelTuning;
            if (robotTime > 41.0f) {
                robotTime -= 12.0f;
            }
        }
    } else if (state.crouch) {
        if (robotTime < 56.0f || robotTime > 76.0f) {
            robotTime = 56.0f;
        } else {
            robotTime += modelTuning;
            if (robotTime > 76.0f) {
                robotTime -= 21.0f;
            }
        }
    }
}

static float wrapAngle(float angle) {
    return angle > twoPi ? angle - twoPi : angle;
}

void animationStep(RobotState& state, AnimationClock& clock, bool animating, Scene& scene, KdPool& pool) {
    if (state.resetAnimation) {
        clock.robotTime = 0.0f;
        state.robotAnimationOn = true;
        state.loop = true;
        state.walk = false;
        state.jump = false;
        state.crouch = false;
        state.resetAnimation = false;
    }
    if (state.robotAnimationOn && animating) {
        advanceRobotTime(state, clock.robotTime);
    }
    if (animating) {
        clock.orbitAngleA = wrapAngle(clock.orbitAngleA + 0.05f);
        clock.orbitAngleB = wrapAngle(clock.orbitAngleB + 0.06f);
        if (scene.accelerator != nullptr) {
            auto& tree = static_cast<KdTree&>(*scene.accelerator);
            pool.reset();
            tree.makeRootEmpty();
            tree.build(scene);
        }
    }
}

} // namespace Raytracer
