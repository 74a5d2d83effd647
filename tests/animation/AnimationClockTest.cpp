#include "animation/AnimationClock.h"

#include "geometry/KdPool.h"
#include "scene/Scene.h"

#include <gtest/gtest.h>

namespace Raytracer {
namespace {

RobotState only(bool RobotState::*flag) {
    RobotState state{false, false, false, false, true, false};
    state.*flag = true;
    return state;
}

TEST(AnimationClock, LoopWrapsPastItsLastKey) {
    float t = 227.8f;
    advanceRobotTime(only(&RobotState::loop), t);
    EXPECT_NEAR(-59.8f, t, 1e-4f);
    t = 100.0f;
    advanceRobotTime(only(&RobotState::loop), t);
    EXPECT_FLOAT_EQ(100.4f, t);
}

TEST(AnimationClock, WalkCyclesThreeToThirteen) {
    float t = 13.2f;
    advanceRobotTime(only(&RobotState::walk), t);
    EXPECT_EQ(3.0f, t);
    t = 12.9f;
    advanceRobotTime(only(&RobotState::walk), t);
    EXPECT_FLOAT_EQ(13.3f, t); // runs past 13 once, then jumps back
}

TEST(AnimationClock, JumpAndCrouchFirstJumpToTheirRange) {
    float t = 5.0f;
    advanceRobotTime(only(&RobotState::jump), t);
    EXPECT_EQ(29.0f, t);
    t = 40.9f;
    advanceRobotTime(only(&RobotState::jump), t);
    EXPECT_NEAR(29.3f, t, 1e-4f);

    t = 80.0f;
    advanceRobotTime(only(&RobotState::crouch), t);
    EXPECT_EQ(56.0f, t);
    t = 75.8f;
    advanceRobotTime(only(&RobotState::crouch), t);
    EXPECT_NEAR(55.2f, t, 1e-4f);
}

TEST(AnimationClock, StatesAreTestedLoopFirst) {
    RobotState state{true, true, true, true, true, false};
    float t = 50.0f;
    advanceRobotTime(state, t);
    EXPECT_FLOAT_EQ(50.4f, t);
}

TEST(AnimationClock, StepAppliesResetAndOnlyMovesWhileAnimating) {
    Scene scene;
    KdPool pool(64);
    AnimationClock clock;
    RobotState state = only(&RobotState::walk);
    clock.robotTime = 10.0f;

    animationStep(state, clock, false, scene, pool);
    EXPECT_EQ(10.0f, clock.robotTime);
    EXPECT_EQ(0.0f, clock.orbitAngleA);

    state.resetAnimation = true;
    state.robotAnimationOn = false;
    animationStep(state, clock, true, scene, pool);
    // The reset restarts Loop at 0, and the same step already advances it.
    EXPECT_FLOAT_EQ(0.4f, clock.robotTime);
    EXPECT_TRUE(state.loop);
    EXPECT_FALSE(state.walk);
    EXPECT_TRUE(state.robotAnimationOn);
    EXPECT_FALSE(state.resetAnimation);
    EXPECT_FLOAT_EQ(0.05f, clock.orbitAngleA);
    EXPECT_FLOAT_EQ(3.1415927f + 0.06f, clock.orbitAngleB);

    // A stopped robot holds its time while the orbits go on.
    state.robotAnimationOn = false;
    animationStep(state, clock, true, scene, pool);
    EXPECT_FLOAT_EQ(0.4f, clock.robotTime);
    EXPECT_FLOAT_EQ(0.1f, clock.orbitAngleA);
}

TEST(AnimationClock, OrbitAnglesWrapAtTwoPi) {
    Scene scene;
    KdPool pool(64);
    AnimationClock clock;
    RobotState state;
    clock.orbitAngleA = 6.25f;
    clock.orbitAngleB = 6.23f;
    animationStep(state, clock, true, scene, pool);
    EXPECT_NEAR(6.30f - twoPi, clock.orbitAngleA, 1e-5f);
    EXPECT_NEAR(6.29f - twoPi, clock.orbitAngleB, 1e-5f);
}

} // namespace
} // namespace Raytracer
