#include "animation/SkeletonPlayback.h"

#include "animation/Skeleton.h"
#include "scene/SceneObject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace Raytracer {
namespace {

constexpr float c45 = 0.70710677f; // cos and sin of 45 degrees
const Quaternion quarterZ(c45, 0, 0, c45);
const Quaternion quarterX(c45, c45, 0, 0);

float apart(const Vector3& a, const Vector3& b) {
    return (a - b).length();
}

float gap(const Quaternion& a, const Quaternion& b) {
    return std::abs(a.w - b.w) + std::abs(a.x - b.x) + std::abs(a.y - b.y) + std::abs(a.z - b.z);
}

TEST(SkeletonPlayback, KeysAreEasedAndSlerpedBetweenAndHeldBeyondTheEnds) {
    Joint joint;
    joint.translationKeys = {{0, {1, 1, 1}, {}, {}},
                             {0, {5, 5, 5}, {}, {0, 8, 0}}, // at the first key's time: a zero-length interval
                             {4, {8, 0, 0}, {0, 0, 8}, {}},
                             {8, {2, 0, 0}, {}, {}}};
    joint.rotationKeys = {{0, quarterZ}, {0, quarterX}, {4, quarterZ}, {8, Quaternion()}};
    for (const auto& [t, position, rotation] :
         {std::tuple{-1.0f, Vector3(1, 1, 1), quarterZ},
          std::tuple{0.0f, Vector3(1, 1, 1), quarterZ}, // the zero-length interval's first key, not 0/0
          // s = 0.5: both ends weigh 0.5, the tangents +-0.125; quarterX and quarterZ are 60 degrees apart.
          std::tuple{2.0f, Vector3(6.5f, 3.5f, 1.5f), Quaternion(0.81649658f, 0.40824829f, 0, 0.40824829f)},
          // s = 0.25 eases to 3 s^2 - 2 s^3 = 0.15625; the slerp turns a quarter of the way back.
          std::tuple{5.0f, Vector3(7.0625f, 0, 0), Quaternion(0.83146961f, 0, 0, 0.55557023f)},
          std::tuple{9.0f, Vector3(2, 0, 0), Quaternion()}}) {
        animateSkeleton(joint, t);
        EXPECT_EQ(position, joint.position) << t;
        EXPECT_LT(gap(rotation, joint.rotation), 1e-5f) << t;
    }
}

TEST(SkeletonPlayback, ChildrenPlayAndPoseAfterTheirParents) {
    Joint shoulder; // no keys: it keeps the pose it has
    Joint elbow;
    shoulder.children.push_back(&elbow);
    SceneObject boxes[2]; // rest corners (0,0,0) and (1,0,0), no triangles
    for (SceneObject& box : boxes) {
        box.allocateVertices(2);
        box.restVertices[1]->position = Vector3(1, 0, 0);
    }
    shoulder.proxy = &boxes[0];
    elbow.proxy = &boxes[1];
    shoulder.position = Vector3(1, 0, 0);
    shoulder.rotation = quarterZ;
    elbow.translationKeys = {{0, {0, 0, 0}, {}, {}}, {2, {4, 0, 0}, {}, {}}};
    elbow.rotationKeys = {{0, Quaternion()}, {2, Quaternion()}};
    animateSkeleton(shoulder, 1.0f);
    EXPECT_EQ(std::tuple(Vector3(1, 0, 0), Vector3(2, 0, 0)), std::tuple(shoulder.position, elbow.position));
    for (int repeat = 0; repeat < 2; ++repeat) { // from the rest copy each time: never a doubled move
        poseSkeleton(shoulder, Vector3(0, 0, 5), quarterX);
        // The shoulder's (1,0,0) turned about x, plus (0,0,5); its frame turns about z, then about x.
        EXPECT_LT(apart({1, 0, 5}, boxes[0].position), 1e-5f);
        EXPECT_LT(apart({1, 0, 6}, boxes[0].vertices[1]->position), 1e-5f);
        EXPECT_LT(apart({1, 0, 7}, boxes[1].position), 1e-5f); // (2,0,0) through z then x is (0,0,2)
        EXPECT_LT(apart({1, 0, 8}, boxes[1].vertices[1]->position), 1e-5f);
    }
}

} // namespace
} // namespace Raytracer
