#include "animation/SkeletonBuilder.h"

#include "animation/Skeleton.h"
#include "geometry/KdPool.h"
#include "geometry/Primitive.h"
#include "math/FatalError.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "tools/scenegen/MilkShapeWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;
using Scenegen::MsWriterJoint;
using Scenegen::MsWriterKeyframe;
using Scenegen::MsWriterModel;

MsWriterJoint joint(const std::string& name, const std::string& parent, float x, float y, float z) {
    MsWriterJoint j;
    j.name = name;
    j.parentName = parent;
    j.position[0] = x;
    j.position[1] = y;
    j.position[2] = z;
    j.rotationKeys.push_back(MsWriterKeyframe{});
    j.positionKeys.push_back(MsWriterKeyframe{});
    return j;
}

// A model folder: name.ms3d from a writer model, name.obj with a small triangle mesh and a box per
// joint, placed around model-space points.
class SkeletonBuilderTest : public ::testing::Test {
  protected:
    SkeletonBuilderTest()
        : directory(fs::temp_directory_path() /
                    ("lumenbox_skeleton_" + std::to_string(::getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          pool(100000) {
        fs::create_directories(directory);
    }
    ~SkeletonBuilderTest() override { fs::remove_all(directory); }

    std::string path(const std::string& name) const { return (directory / name).string(); }

    // Parts for each named joint: a triangle at its model-space point and a box of half-size 1 around it.
    void writeParts(const std::vector<std::pair<std::string, Vector3>>& joints,
                    const std::string& skip = "") {
        std::string text = "# parts\n";
        int base = 0;
        for (const auto& [name, at] : joints) {
            const auto v = [&](float x, float y, float z) {
                text += "v " + std::to_string(at.x + x) + " " + std::to_string(at.y + y) + " " +
                        std::to_string(at.z + z) + "\n";
            };
            text += "# object\ng " + name + "OBJ3D\n";
            v(0, 0, 0);
            v(0.5f, 0, 0);
            v(0, 0.5f, 0);
            text += "f " + std::to_string(base + 1) + " " + std::to_string(base + 2) + " " +
                    std::to_string(base + 3) + "\n";
            base += 3;
            if (name == skip) {
                continue;
            }
            text += "# object\ng " + name + "BBox\n";
            for (int i = 0; i < 8; ++i) {
                v(i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f);
            }
            const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                     {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
            for (const auto& f : faces) {
                const auto at4 = [&](int k) { return std::to_string(base + f[k] + 1); };
                text += "f " + at4(0) + " " + at4(1) + " " + at4(2) + "\nf " + at4(0) + " " + at4(2) + " " +
                        at4(3) + "\n";
            }
            base += 8;
        }
        std::ofstream(directory / "arm.obj") << text;
    }

    Skeleton& load(const MsWriterModel& model) {
        Scenegen::writeMilkShapeFile(path("arm.ms3d"), model);
        Skeleton* skeleton = scene.create<Skeleton>();
        loadSkeleton(*skeleton, path("arm.ms3d"), scene, pool);
        return *skeleton;
    }

    std::string loadError(const MsWriterModel& model) {
        try {
            load(model);
        } catch (const FatalError& error) {
            return error.what();
        }
        return "<loaded>";
    }

    fs::path directory;
    KdPool pool;
    Scene scene;
};

TEST(CompanionObjName, CutsAtTheFirstDotAfterLeadingDots) {
    EXPECT_EQ("meshes/star.obj", companionObjName("meshes/star.ms3d"));
    EXPECT_EQ("./meshes/cylon.obj", companionObjName("./meshes/cylon.ms3d"));
    EXPECT_EQ("model.obj", companionObjName("model"));
}

TEST_F(SkeletonBuilderTest, BuildsTheTreeDepthFirstWithBindTransformsAndKeys) {
    // base at the origin; upper 5 file units up (2 after scaling); lower 5 more; side beside base.
    MsWriterModel model;
    model.joints = {joint("base", "", 0, 0, 0), joint("upper", "base", 0, 5, 0),
                    joint("side", "base", 5, 0, 0), joint("lower", "upper", 0, 5, 0)};
    // upper turns a quarter about z and moves 1 unit along x at 1 s (24 frames).
    model.joints[1].rotationKeys.push_back(MsWriterKeyframe{1.0f, {0, 0, 1.5707964f}});
    model.joints[1].positionKeys.push_back(MsWriterKeyframe{1.0f, {1, 0, 0}});
    writeParts({{"base", {0, 0, 0}}, {"upper", {0, 2, 0}}, {"lower", {0, 4, 0}}, {"side", {2, 0, 0}}});
    Skeleton& skeleton = load(model);

    Joint& base = *skeleton.root;
    EXPECT_EQ("base", base.name);
    ASSERT_EQ(2u, base.children.size());
    Joint& upper = *base.children[0];
    Joint& side = *base.children[1];
    ASSERT_EQ(1u, upper.children.size());
    Joint& lower = *upper.children[0];
    EXPECT_EQ("side", side.name);
    EXPECT_EQ("lower", lower.name);
    EXPECT_EQ(&upper, lower.parent);
    EXPECT_TRUE(lower.children.empty());

    // Bind transforms, scaled by 0.4.
    EXPECT_EQ(Vector3(0, 2, 0), upper.position);
    EXPECT_EQ(Quaternion(), upper.rotation);
    // A single zero key at time 0 is the bind transform itself.
    ASSERT_EQ(1u, base.translationKeys.size());
    EXPECT_EQ(Vector3(), base.translationKeys[0].value);
    EXPECT_EQ(Quaternion(), base.rotationKeys[0].value);
    // Keys are complete local transforms: bind after key, in frames.
    ASSERT_EQ(2u, upper.translationKeys.size());
    EXPECT_EQ(24.0f, upper.translationKeys[1].time);
    EXPECT_EQ(24.0f, upper.rotationKeys[1].time);
    EXPECT_NEAR(0.4f, upper.translationKeys[1].value.x, 1e-6f);
    EXPECT_NEAR(2.0f, upper.translationKeys[1].value.y, 1e-6f);
    const Quaternion& turned = upper.rotationKeys[1].value;
    EXPECT_NEAR(std::cos(0.7853982f), turned.w, 1e-6f);
    EXPECT_NEAR(std::sin(0.7853982f), turned.z, 1e-6f);

    // Proxies enter the top level in depth-first pre-order: base, upper, lower, side.
    ASSERT_EQ(48, scene.primitiveCount());
    EXPECT_EQ(base.proxy, scene.primitives[0]->owner);
    EXPECT_EQ(upper.proxy, scene.primitives[12]->owner);
    EXPECT_EQ(lower.proxy, scene.primitives[24]->owner);
    EXPECT_EQ(side.proxy, scene.primitives[36]->owner);

    // After binding, every mesh and box is in its joint's frame: the triangle sits at the joint.
    EXPECT_EQ(Vector3(0, 4, 0), lower.proxy->position);
    const Scene& lowerScene = *lower.proxy->instance;
    EXPECT_EQ(lower.proxy, lowerScene.proxy);
    ASSERT_EQ(1, lowerScene.primitiveCount());
    EXPECT_EQ(Primitive::lit, lowerScene.primitives[0]->type);
    EXPECT_EQ(Vector3(0, 0, 0), lowerScene.object->vertices[0]->position);
    EXPECT_EQ(Vector3(-1, -1, -1), lower.proxy->vertices[0]->position);
    EXPECT_EQ(Vector3(-15, -15, -15), lowerScene.boundsMin);
    EXPECT_EQ(Vector3(30, 30, 30), lowerScene.boundsSize);
    EXPECT_NE(nullptr, lowerScene.accelerator);
}

TEST_F(SkeletonBuilderTest, AJointWithoutKeysHoldsItsBindPose) {
    MsWriterModel model;
    model.joints = {joint("base", "", 0, 0, 0), joint("tip", "base", 0, 5, 0)};
    model.joints[1].rotationKeys.clear();
    model.joints[1].positionKeys.clear();
    writeParts({{"base", {0, 0, 0}}, {"tip", {0, 2, 0}}});
    const Joint& tip = *load(model).root->children.at(0);
    ASSERT_EQ(1u, tip.translationKeys.size());
    ASSERT_EQ(1u, tip.rotationKeys.size());
    EXPECT_EQ(Vector3(0, 2, 0), tip.translationKeys[0].value);
    EXPECT_EQ(0.0f, tip.translationKeys[0].time);
}

TEST_F(SkeletonBuilderTest, ModelsThatCannotBeBuiltAreRefusedInOneLine) {
    const auto expectError = [&](const MsWriterModel& model, const std::string& expected) {
        const std::string error = loadError(model);
        EXPECT_NE(std::string::npos, error.find(expected)) << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
    };
    MsWriterModel model;
    model.joints = {joint("base", "", 0, 0, 0)};
    expectError(model, "Error reading file: " + path("arm.obj"));

    writeParts({{"base", {0, 0, 0}}}, "base");
    expectError(model, "no part named baseBBox");

    model.joints = {joint("averyveryverylongname", "", 0, 0, 0)};
    writeParts({{"averyveryverylongname", {0, 0, 0}}});
    expectError(model, "longer than 19 characters");

    model.joints = {joint("base", "", 0, 0, 0)};
    model.joints[0].positionKeys.push_back(MsWriterKeyframe{1.0f, {}});
    writeParts({{"base", {0, 0, 0}}});
    expectError(model, "fewer rotation keys (1) than position keys (2)");

    model.joints = {joint("base", "", 0, 0, 0)};
    std::vector<std::pair<std::string, Vector3>> parts = {{"base", {0, 0, 0}}};
    for (int i = 0; i < 21; ++i) {
        std::string name = "c";
        name += std::to_string(i);
        model.joints.push_back(joint(name, "base", 0, 0, 0));
        parts.push_back({name, {0, 0, 0}});
    }
    writeParts(parts);
    expectError(model, "more than 20 children");

    model.joints = {joint("base", "", 0, 0, 0)};
    for (int k = 0; k < 500; ++k) {
        model.joints[0].rotationKeys.push_back(MsWriterKeyframe{static_cast<float>(k + 1), {}});
        model.joints[0].positionKeys.push_back(MsWriterKeyframe{static_cast<float>(k + 1), {}});
    }
    writeParts({{"base", {0, 0, 0}}});
    expectError(model, "more than 500 keys");

    model.joints.clear();
    expectError(model, "has no joints");
}

} // namespace
} // namespace Raytracer
