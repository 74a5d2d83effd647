#include "animation/AnimationClock.h"

#include "geometry/KdPool.h"
#include "scene/Scene.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace Raytracer {
namespace {

TEST(AnimationClock, EachStateAdvancesWithinItsRange) {
    const std::tuple<std::string, float, float> rows[] = {
        {"loop", 100.0f, 100.4f}, {"loop", 227.8f, -59.8f}, {"walk", 12.9f, 13.3f},
        {"walk", 13.2f, 3.0f},    {"jump", 5.0f, 29.0f},    {"jump", 41.0f, 29.4f},
        {"jump", 29.0f, 29.4f},   {"crouch", 80.0f, 56.0f}, {"crouch", 75.8f, 55.2f},
        {"crouch", 55.9f, 56.0f}, {"none", 50.0f, 50.0f},   {"all", 50.0f, 50.4f}}; // loop is tested first
    for (const auto& [name, before, after] : rows) {
        const bool all = name == "all";
        RobotState state{all || name == "walk",
                         all || name == "jump",
                         all || name == "crouch",
                         all || name == "loop",
                         true,
                         false};
        float t = before;
        advanceRobotTime(state, t);
        EXPECT_NEAR(after, t, 1e-4f) << name << " at " << before;
    }
}

TEST(AnimationClock, StepResetsTheRobotAndTurnsTheOrbits) {
    Scene scene; // no models: the step skips them
    KdPool pool(64);
    AnimationClock clock{10.0f, 6.25f, 1.0f};
    RobotState state{true, false, false, false, false, true}; // walking, stopped, a reset asked
    animationStep(state, clock, true, scene, pool);
    // The reset restarts Loop at 0 and the same step advances it; the first orbit wraps past 2 pi.
    EXPECT_EQ(std::tuple(true, false, true, false),
              std::tuple(state.loop, state.walk, state.robotAnimationOn, state.resetAnimation));
    EXPECT_NEAR(0.4f, clock.robotTime, 1e-6f);
    EXPECT_NEAR(6.30f - twoPi, clock.orbitAngleA, 1e-5f);
    EXPECT_NEAR(1.06f, clock.orbitAngleB, 1e-6f);
    animationStep(state, clock, false, scene, pool);
    EXPECT_NEAR(0.4f, clock.robotTime, 1e-6f) << "nothing moves on a frame that does not animate";
    EXPECT_NEAR(1.06f, clock.orbitAngleB, 1e-6f);
}

} // namespace
} // namespace Raytracer
