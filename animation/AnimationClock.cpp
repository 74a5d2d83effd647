#include "animation/AnimationClock.h"

#include "animation/Skeleton.h"
#include "animation/SkeletonPlayback.h"
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "scene/Scene.h"

#include <cmath>

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

// Models that are not loaded (or have no joints) are skipped, so the step also runs on bare scenes.
static Joint* rootOf(const Scene& scene, int model) {
    const Skeleton* skeleton = scene.models[static_cast<std::size_t>(model)];
    return skeleton != nullptr ? skeleton->root : nullptr;
}

static void placeModel(const Scene& scene, int model, const Vector3& position) {
    if (Joint* root = rootOf(scene, model)) {
        poseSkeleton(*root, position, Quaternion());
    }
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
        // With no state flag set the clock stands still and the robot keeps its pose.
        const bool active = state.loop || state.walk || state.jump || state.crouch;
        Joint* robot = rootOf(scene, 0);
        if (active && robot != nullptr) {
            animateSkeleton(*robot, clock.robotTime);
            poseSkeleton(*robot, Vector3(), Quaternion());
        }
    }
    if (animating) {
        clock.orbitAngleA = wrapAngle(clock.orbitAngleA + 0.05f);
        clock.orbitAngleB = wrapAngle(clock.orbitAngleB + 0.06f);
        const float a = clock.orbitAngleA;
        const float b = clock.orbitAngleB;
        // The orbiting models keep the joint pose of time 0 the loader gave them; only their roots move.
        placeModel(scene, 1, Vector3(8.0f * std::sin(a), std::sin(a) + 5.7f, 8.0f * std::cos(a)));
        placeModel(scene, 2, Vector3(6.0f * std::cos(a), std::cos(a) + 7.7f, 6.0f * std::sin(a)));
        placeModel(scene, 3, Vector3(7.0f * std::cos(b), std::sin(a) + 10.5f, 7.0f * std::sin(b)));
        if (scene.accelerator != nullptr) {
            auto& tree = static_cast<KdTree&>(*scene.accelerator);
            pool.reset();
            tree.makeRootEmpty();
            tree.build(scene);
        }
    }
}

} // namespace Raytracer
