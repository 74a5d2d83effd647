#include "animation/SkeletonPlayback.h"

#include "animation/AnimationClock.h"
#include "animation/Skeleton.h"
#include "geometry/KdPool.h"
#include "geometry/Primitive.h"
#include "geometry/Triangle.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace Raytracer {
namespace {

// 90 degrees about z and about x: cos 45 and sin 45.
constexpr float c45 = 0.70710677f;
const Quaternion quarterZ(c45, 0.0f, 0.0f, c45);
const Quaternion quarterX(c45, c45, 0.0f, 0.0f);

void expectVector(const Vector3& expected, const Vector3& actual, float tolerance = 1e-5f) {
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

void expectQuaternion(const Quaternion& expected, const Quaternion& actual, float tolerance = 1e-5f) {
    EXPECT_NEAR(expected.w, actual.w, tolerance);
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

void addKey(Joint& joint, float time, const Vector3& position, const Quaternion& rotation = Quaternion()) {
    TranslationKey translation;
    translation.time = time;
    translation.value = position;
    joint.translationKeys.push_back(translation);
    joint.rotationKeys.push_back(RotationKey{time, rotation});
}

void attach(Joint& parent, Joint& child) {
    parent.children.push_back(&child);
    child.parent = &parent;
}

// A proxy with one triangle at (0,0,0), (1,0,0), (0,1,0) of its local frame, in scene's primitive list.
SceneObject* addProxy(Scene& scene) {
    SceneObject* proxy = scene.create<SceneObject>();
    proxy->allocateVertices(3);
    const Vector3 corners[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    for (int i = 0; i < 3; ++i) {
        proxy->restVertices[static_cast<std::size_t>(i)]->position = corners[i];
        proxy->vertices[static_cast<std::size_t>(i)]->position = corners[i];
    }
    proxy->ownerScene = &scene;
    proxy->firstPrimitive = scene.primitiveCount();
    Triangle* triangle =
        scene.create<Triangle>(Primitive::proxy, proxy->vertices[0], proxy->vertices[1], proxy->vertices[2]);
    triangle->owner = proxy;
    scene.primitives.push_back(triangle);
    proxy->endPrimitive = scene.primitiveCount();
    return proxy;
}

Vector3 corner(const Joint& joint, int i) {
    return joint.proxy->vertices[static_cast<std::size_t>(i)]->position;
}

TEST(SkeletonPlayback, SingleKeyPairIsAlwaysTaken) {
    Joint joint;
    addKey(joint, 10.0f, {1, 2, 3}, Quaternion(2, 0, 0, 0));
    for (float t : {-5.0f, 0.0f, 10.0f, 10.5f, 1000.0f}) {
        joint.position = Vector3(9, 9, 9);
        joint.rotation = Quaternion(0, 1, 0, 0);
        animateSkeleton(joint, t);
        EXPECT_EQ(Vector3(1, 2, 3), joint.position) << t;
        EXPECT_EQ(Quaternion(1, 0, 0, 0), joint.rotation) << t; // stored normalised
    }
}

TEST(SkeletonPlayback, KeyTimeGivesThatKeyFromEitherInterval) {
    Joint joint;
    addKey(joint, 0.0f, {0, 0, 0});
    addKey(joint, 10.0f, {5, -1, 2}, quarterZ);
    addKey(joint, 20.0f, {9, 9, 9});
    animateSkeleton(joint, 10.0f);
    EXPECT_EQ(Vector3(5, -1, 2), joint.position);
    expectQuaternion(quarterZ, joint.rotation);
    // The ends of the whole range are inside an interval too.
    animateSkeleton(joint, 0.0f);
    EXPECT_EQ(Vector3(0, 0, 0), joint.position);
    expectQuaternion(Quaternion(), joint.rotation);
    animateSkeleton(joint, 20.0f);
    EXPECT_EQ(Vector3(9, 9, 9), joint.position);
    expectQuaternion(Quaternion(), joint.rotation);
}

TEST(SkeletonPlayback, BeforeTheFirstAndAfterTheLastKeyTheEndKeysHold) {
    Joint joint;
    addKey(joint, 5.0f, {1, 0, 0}, quarterX);
    addKey(joint, 15.0f, {3, 0, 0}, quarterZ);
    animateSkeleton(joint, 4.9f);
    EXPECT_EQ(Vector3(1, 0, 0), joint.position);
    expectQuaternion(quarterX, joint.rotation);
    animateSkeleton(joint, -60.0f);
    EXPECT_EQ(Vector3(1, 0, 0), joint.position);
    animateSkeleton(joint, 15.1f);
    EXPECT_EQ(Vector3(3, 0, 0), joint.position);
    expectQuaternion(quarterZ, joint.rotation);
    animateSkeleton(joint, 500.0f);
    EXPECT_EQ(Vector3(3, 0, 0), joint.position);
    expectQuaternion(quarterZ, joint.rotation);
}

TEST(SkeletonPlayback, TranslationIsAnEasedBlend) {
    Joint joint;
    addKey(joint, 2.0f, {0, 4, -2});
    addKey(joint, 6.0f, {10, 8, 6});
    // s = 0.5: both weights are 0.5, the midpoint.
    animateSkeleton(joint, 4.0f);
    EXPECT_EQ(Vector3(5, 6, 2), joint.position);
    // s = 0.25: 3 s^2 - 2 s^3 = 0.15625, less than the linear 0.25.
    animateSkeleton(joint, 3.0f);
    EXPECT_EQ(Vector3(1.5625f, 4.625f, -0.75f), joint.position);
}

TEST(SkeletonPlayback, TangentsEnterWithTheirHermiteWeights) {
    Joint joint;
    addKey(joint, 0.0f, {0, 0, 0});
    addKey(joint, 4.0f, {8, 0, 0});
    joint.translationKeys[0].tangentOut = Vector3(0, 8, 0);
    joint.translationKeys[1].tangentIn = Vector3(0, 0, 8);
    // s = 0.5: h10 = 0.125, h11 = -0.125.
    animateSkeleton(joint, 2.0f);
    EXPECT_EQ(Vector3(4, 1, -1), joint.position);
}

TEST(SkeletonPlayback, RotationIsSlerpedBetweenKeys) {
    Joint joint;
    addKey(joint, 0.0f, {0, 0, 0}, Quaternion());
    addKey(joint, 10.0f, {0, 0, 0}, quarterZ);
    // Halfway: 45 degrees about z; a quarter: 22.5 degrees.
    animateSkeleton(joint, 5.0f);
    expectQuaternion(Quaternion(0.92387953f, 0, 0, 0.38268343f), joint.rotation);
    animateSkeleton(joint, 2.5f);
    expectQuaternion(Quaternion(0.98078528f, 0, 0, 0.19509032f), joint.rotation);
}

TEST(SkeletonPlayback, DuplicatedKeyTimeTakesTheFirstKey) {
    Joint joint;
    addKey(joint, 3.0f, {1, 1, 1});
    addKey(joint, 3.0f, {2, 2, 2}, quarterZ);
    addKey(joint, 8.0f, {3, 3, 3});
    animateSkeleton(joint, 3.0f);
    EXPECT_EQ(Vector3(1, 1, 1), joint.position);
    expectQuaternion(Quaternion(), joint.rotation);
}

TEST(SkeletonPlayback, JointWithoutKeysKeepsItsPoseAndItsChildrenStillPlay) {
    Joint root;
    root.position = Vector3(1, 2, 3);
    root.rotation = quarterX;
    Joint child;
    addKey(child, 0.0f, {0, 0, 0});
    addKey(child, 2.0f, {4, 0, 0});
    attach(root, child);
    animateSkeleton(root, 1.0f);
    EXPECT_EQ(Vector3(1, 2, 3), root.position);
    EXPECT_EQ(quarterX, root.rotation);
    EXPECT_EQ(Vector3(2, 0, 0), child.position);
}

TEST(SkeletonPlayback, FewerRotationThanTranslationKeysReadsNoFurther) {
    Joint joint;
    addKey(joint, 0.0f, {0, 0, 0}, Quaternion());
    addKey(joint, 10.0f, {1, 0, 0}, quarterX);
    addKey(joint, 20.0f, {2, 0, 0});
    joint.rotationKeys.pop_back();
    animateSkeleton(joint, 30.0f);
    EXPECT_EQ(Vector3(2, 0, 0), joint.position);
    expectQuaternion(quarterX, joint.rotation);
}

TEST(SkeletonPlayback, AnimateReachesEveryDescendant) {
    Joint root;
    Joint first;
    Joint second;
    Joint grandchild;
    addKey(root, 0.0f, {1, 0, 0});
    addKey(first, 0.0f, {0, 0, 0});
    addKey(first, 4.0f, {0, 4, 0});
    addKey(second, 0.0f, {0, 0, 0});
    addKey(second, 8.0f, {0, 0, 8});
    addKey(grandchild, 2.0f, {0, 0, 0});
    addKey(grandchild, 6.0f, {4, 4, 4});
    attach(root, first);
    attach(root, second);
    attach(first, grandchild);
    animateSkeleton(root, 4.0f);
    EXPECT_EQ(Vector3(1, 0, 0), root.position);
    EXPECT_EQ(Vector3(0, 4, 0), first.position);
    EXPECT_EQ(Vector3(0, 0, 4), second.position);
    EXPECT_EQ(Vector3(2, 2, 2), grandchild.position);
}

TEST(SkeletonPlayback, PoseComposesParentFirstDownAnArm) {
    Scene top;
    Joint shoulder;
    Joint elbow;
    attach(shoulder, elbow);
    shoulder.proxy = addProxy(top);
    elbow.proxy = addProxy(top);
    shoulder.position = Vector3(1, 0, 0);
    // Not unit length: the composed rotation is normalised before it reaches the child.
    shoulder.rotation = Quaternion(2 * c45, 0, 0, 2 * c45);
    elbow.position = Vector3(2, 0, 0);

    poseSkeleton(shoulder, Vector3(0, 0, 5), quarterX);

    // Shoulder: (1,0,0) turned about x stays, plus (0,0,5); rotation: z first, then x.
    const Quaternion armRotation = multiply(quarterX, quarterZ);
    expectVector(Vector3(1, 0, 5), shoulder.proxy->position);
    expectQuaternion(armRotation, shoulder.proxy->rotation);
    expectVector(Vector3(1, 0, 5), corner(shoulder, 0));
    // (1,0,0) -> z: (0,1,0) -> x: (0,0,1); (0,1,0) -> z: (-1,0,0) -> x: (-1,0,0).
    expectVector(Vector3(1, 0, 6), corner(shoulder, 1));
    expectVector(Vector3(0, 0, 5), corner(shoulder, 2));

    // Elbow: (2,0,0) -> z: (0,2,0) -> x: (0,0,2), from the shoulder at (1,0,5).
    expectVector(Vector3(1, 0, 7), elbow.proxy->position);
    expectQuaternion(armRotation, elbow.proxy->rotation);
    expectVector(Vector3(1, 0, 7), corner(elbow, 0));
    expectVector(Vector3(1, 0, 8), corner(elbow, 1));
    expectVector(Vector3(0, 0, 7), corner(elbow, 2));
    // The proxy triangle's plane follows its corners: (c - a) x (b - a) = (-1,0,0) x (0,0,1).
    const auto& triangle = static_cast<const Triangle&>(*top.primitives[1]);
    expectVector(Vector3(0, 1, 0), normalize(triangle.normal));

    // Posing again from the rest copy gives the same place, not a doubled move.
    poseSkeleton(shoulder, Vector3(0, 0, 5), quarterX);
    expectVector(Vector3(1, 0, 8), corner(elbow, 1));
}

// A top-level scene with the four models: a robot whose root translation key values are ten times
// their times (so each landing time is recognisable) with a child one unit above it, and three
// orbiting models at rest.
class PlaybackStep : public ::testing::Test {
  protected:
    PlaybackStep() : pool(64) {
        for (Skeleton& model : models) {
            model.scene = &top;
        }
        for (float time : {0.0f, 0.8f, 3.0f, 29.0f, 228.0f}) {
            addKey(robotRoot, time, {time * 10.0f, 0, 0});
        }
        addKey(robotHand, 0.0f, {0, 1, 0});
        attach(robotRoot, robotHand);
        ballRoot.position = Vector3(0, 1, 0);
        ballChild.position = Vector3(1, 0, 0);
        attach(ballRoot, ballChild);
        Joint* joints[] = {&robotRoot, &robotHand, &ballRoot, &ballChild, &starRoot, &twoBallRoot};
        for (Joint* joint : joints) {
            joint->proxy = addProxy(top);
        }
        models[0].root = &robotRoot;
        models[1].root = &ballRoot;
        models[2].root = &starRoot;
        models[3].root = &twoBallRoot;
        for (int i = 0; i < 4; ++i) {
            top.models[static_cast<std::size_t>(i)] = &models[static_cast<std::size_t>(i)];
        }
        // A pose no step produces, so that a step that poses nothing is seen.
        robotRoot.position = Vector3(-7, -7, -7);
        poseSkeleton(robotRoot, Vector3(), Quaternion());
        state = RobotState{false, false, false, false, true, false};
    }

    void step(bool animating = true) { animationStep(state, clock, animating, top, pool); }

    Scene top;
    KdPool pool;
    Skeleton models[4];
    Joint robotRoot, robotHand, ballRoot, ballChild, starRoot, twoBallRoot;
    RobotState state;
    AnimationClock clock;
};

TEST_F(PlaybackStep, LoopWrapsToTheFirstPose) {
    state.loop = true;
    clock.robotTime = 227.8f;
    step();
    EXPECT_NEAR(-59.8f, clock.robotTime, 1e-4f);
    EXPECT_EQ(Vector3(0, 0, 0), robotRoot.position);
    expectVector(Vector3(0, 0, 0), robotRoot.proxy->position);
    expectVector(Vector3(1, 0, 0), corner(robotRoot, 1));
    expectVector(Vector3(0, 1, 0), robotHand.proxy->position);
    expectVector(Vector3(0, 2, 0), corner(robotHand, 2));
}

TEST_F(PlaybackStep, WalkPastThirteenJumpsToThree) {
    state.walk = true;
    clock.robotTime = 13.2f;
    step();
    EXPECT_EQ(3.0f, clock.robotTime);
    EXPECT_EQ(Vector3(30, 0, 0), robotRoot.position);
    expectVector(Vector3(30, 0, 0), robotRoot.proxy->position);
    expectVector(Vector3(31, 0, 0), corner(robotRoot, 1));
    expectVector(Vector3(30, 1, 0), robotHand.proxy->position);
}

TEST_F(PlaybackStep, JumpEnteredAtFiveLandsOnTwentyNine) {
    state.jump = true;
    clock.robotTime = 5.0f;
    step();
    EXPECT_EQ(29.0f, clock.robotTime);
    // The pose of time 29 itself, not of 5.4 or of anything on the way.
    EXPECT_EQ(Vector3(290, 0, 0), robotRoot.position);
    expectVector(Vector3(290, 1, 0), robotHand.proxy->position);
}

TEST_F(PlaybackStep, ResetRestartsTheLoopAndAnimatesAtOnce) {
    state.walk = true;
    state.robotAnimationOn = false;
    state.resetAnimation = true;
    clock.robotTime = 100.0f;
    step();
    EXPECT_FLOAT_EQ(0.4f, clock.robotTime);
    EXPECT_TRUE(state.loop);
    EXPECT_FALSE(state.walk);
    // Halfway between the keys at 0 and 0.8.
    EXPECT_EQ(Vector3(4, 0, 0), robotRoot.position);
    expectVector(Vector3(4, 1, 0), robotHand.proxy->position);
}

TEST_F(PlaybackStep, OrbitingModelsMoveTheirRootsAfterOneStep) {
    state.robotAnimationOn = false;
    step();
    // a = 0.05, b = pi + 0.06.
    expectVector(Vector3(0.39983335f, 6.7499792f, 7.9900021f), ballRoot.proxy->position, 1e-4f);
    expectVector(Vector3(1.3998334f, 6.7499792f, 7.9900021f), ballChild.proxy->position, 1e-4f);
    expectVector(Vector3(1.3998334f, 6.7499792f, 7.9900021f), corner(ballRoot, 1), 1e-4f);
    expectVector(Vector3(5.9925016f, 8.6987503f, 0.29987502f), starRoot.proxy->position, 1e-4f);
    expectVector(Vector3(-6.9874038f, 10.549979f, -0.41974805f), twoBallRoot.proxy->position, 1e-4f);
    expectQuaternion(Quaternion(), twoBallRoot.proxy->rotation);
    // The stopped robot kept its pose.
    expectVector(Vector3(-7, -7, -7), robotRoot.proxy->position);
}

TEST_F(PlaybackStep, RobotWithoutAStateKeepsItsPose) {
    clock.robotTime = 50.0f;
    step();
    EXPECT_EQ(50.0f, clock.robotTime);
    EXPECT_EQ(Vector3(-7, -7, -7), robotRoot.position);
    expectVector(Vector3(-7, -7, -7), robotRoot.proxy->position);
}

TEST_F(PlaybackStep, NotAnimatingMovesNothing) {
    state.loop = true;
    clock.robotTime = 50.0f;
    step();
    const float robotTime = clock.robotTime;
    const Vector3 robotCorner = corner(robotRoot, 1);
    const Vector3 handPlace = robotHand.proxy->position;
    const Vector3 ballCorner = corner(ballChild, 2);
    const Vector3 twoBallPlace = twoBallRoot.proxy->position;

    step(false);
    EXPECT_EQ(robotTime, clock.robotTime);
    EXPECT_EQ(0.05f, clock.orbitAngleA);
    EXPECT_EQ(robotCorner, corner(robotRoot, 1));
    EXPECT_EQ(handPlace, robotHand.proxy->position);
    EXPECT_EQ(ballCorner, corner(ballChild, 2));
    EXPECT_EQ(twoBallPlace, twoBallRoot.proxy->position);
}

TEST_F(PlaybackStep, MissingModelsAreSkipped) {
    top.models[0] = nullptr;
    top.models[2] = nullptr;
    models[3].root = nullptr;
    state.loop = true;
    step();
    EXPECT_FLOAT_EQ(0.4f, clock.robotTime);
    expectVector(Vector3(-7, -7, -7), robotRoot.proxy->position);
    expectVector(Vector3(0.39983335f, 6.7499792f, 7.9900021f), ballRoot.proxy->position, 1e-4f);
    expectVector(Vector3(0, 0, 0), starRoot.proxy->position);
}

} // namespace
} // namespace Raytracer
