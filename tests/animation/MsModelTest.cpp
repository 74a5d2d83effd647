#include "animation/MsModel.h"

#include "animation/Skeleton.h"
#include "animation/SkeletonBuilder.h"
#include "geometry/KdPool.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <tuple>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;

// A MilkShape 3D file put together field by field, little-endian whatever the host.
struct Ms3dBytes {
    std::string bytes;

    Ms3dBytes& le(std::uint32_t value, int size = 4) {
        for (int i = 0; i < size; ++i) {
            bytes.push_back(static_cast<char>(value >> (8 * i)));
        }
        return *this;
    }
    Ms3dBytes& f32(std::initializer_list<float> values) {
        for (const float value : values) {
            le(std::bit_cast<std::uint32_t>(value));
        }
        return *this;
    }
    // Up to the joint count: zeroed vertices and no triangles, groups or materials.
    Ms3dBytes& header(float fps, unsigned vertices, unsigned joints) {
        bytes += "MS3D000000";
        le(4).le(vertices, 2).bytes.append(15 * vertices + 6, '\0');
        return f32({fps, 0}).le(1).le(joints, 2);
    }
    // Bind rotation as Euler angles in radians and bind position; as many rotation as position keys.
    Ms3dBytes& joint(const std::string& name, const std::string& parent,
                     std::initializer_list<float> rotation, std::initializer_list<float> position,
                     unsigned keys) {
        bytes += '\x08' + name + std::string(32 - name.size(), '\0') + parent +
                 std::string(32 - parent.size(), '\0');
        return f32(rotation).f32(position).le(keys, 2).le(keys, 2);
    }
    void write(const std::string& path) const { std::ofstream(path, std::ios::binary) << bytes; }
};

using Floats = std::array<float, 3>;

TEST(MsModel, ReadsAHandMadeFileUpToItsFirstUnknownSection) {
    struct Row {
        float fps, keyScale;                 // key times are seconds times the rate, which is at least 1
        std::int32_t vertexExtrasSubVersion; // 3 is one this reader does not know
        std::int8_t boneId;
        std::uint32_t extra;
        float jointSize;
    };
    const Row rows[] = {{10, 10, 2, -1, 0x12345678, 2}, {0.5f, 1, 1, -1, 0, 2}, {10, 10, 3, 0, 0, 1}};
    const std::string path = ::testing::TempDir() + "lumenbox-ms3d-" + std::to_string(::getpid());
    for (const Row& row : rows) {
        // One joint with two key pairs, then the comments (one of the joint's), the vertex extras,
        // the joint extras and the model extras.
        Ms3dBytes file;
        file.header(row.fps, 1, 1).joint("Root", "", {0.1f, 0.2f, 0.3f}, {4, 5, 6}, 2);
        file.f32({0.5f, 7, 8, 9, 0.6f, 1, 1, 1, 0.2f, 1, 2, 3, 0.4f, 4, 5, 6});
        file.le(1).le(0).le(0).le(1).le(0).le(4).le(0).le(0); // a joint comment of four bytes
        file.le(row.vertexExtrasSubVersion).le(0xff0201, 3);
        file.le(0x1e140a, 3).le(0x12345678, row.vertexExtrasSubVersion == 2 ? 4 : 0);
        file.le(1).f32({0.5f, 0.25f, 0.125f}).le(1).f32({2}).le(1).f32({0.75f}).write(path);
        msModel model;
        ASSERT_TRUE(model.load(path)) << row.vertexExtrasSubVersion;
        EXPECT_EQ(std::max(row.fps, 1.0f), model.animationFps);
        ASSERT_EQ(1u, model.joints.size());
        const MsJoint& root = model.joints[0];
        EXPECT_EQ(std::tuple("Root", "", Floats{0.1f, 0.2f, 0.3f}, Floats{4, 5, 6}),
                  std::tuple(root.name, root.parentName, root.rotation, root.position));
        ASSERT_TRUE(root.rotationKeys.size() == 2 && root.positionKeys.size() == 2);
        EXPECT_EQ(std::tuple(0.5f * row.keyScale, Floats{7, 8, 9}, 0.4f * row.keyScale, Floats{4, 5, 6}),
                  std::tuple(root.rotationKeys[0].time, root.rotationKeys[0].value, root.positionKeys[1].time,
                             root.positionKeys[1].value));
        EXPECT_EQ(std::tuple(row.boneId, row.extra, row.jointSize),
                  std::tuple(model.vertices.at(0).boneIds[2], model.vertices[0].extra, model.jointSize));
    }
    fs::remove(path);
}

TEST(MsModel, ShippedModelsLoadWithTheirJointsAndKeys) {
    for (const auto& [file, joints, keys] :
         {std::tuple{"meshes/cylon.ms3d", 16u, 2304u}, std::tuple{"meshes/ball.ms3d", 1u, 1u},
          std::tuple{"meshes/star.ms3d", 1u, 1u}, std::tuple{"meshes/2ball.ms3d", 3u, 3u}}) {
        msModel model;
        ASSERT_TRUE(model.load(file)) << file;
        EXPECT_EQ(joints, model.joints.size()) << file;
        std::size_t keyPairs = 0;
        for (const MsJoint& joint : model.joints) {
            keyPairs += std::min(joint.rotationKeys.size(), joint.positionKeys.size());
        }
        EXPECT_EQ(keys, keyPairs) << file;
    }
}

float apart(const Vector3& a, const Vector3& b) {
    return (a - b).length();
}

TEST(SkeletonBuilder, KeysAreWholeLocalTransformsAndMeshesEndInTheirJointsFrames) {
    const fs::path directory =
        fs::temp_directory_path() / ("lumenbox-skeleton-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    // File distances are scaled by 0.4. upper is bound a quarter turn about z, 5 units up; its one key
    // turns a quarter about x and moves 1 unit along x at 1 s.
    const float quarter = 1.5707964f;
    Ms3dBytes file;
    file.header(24, 0, 3).joint("base", "", {0, 0, 0}, {0, 0, 0}, 0);
    file.joint("upper", "base", {0, 0, quarter}, {0, 5, 0}, 1).f32({1, quarter, 0, 0, 1, 1, 0, 0});
    file.joint("lower", "upper", {0, 0, 0}, {0, 5, 0}, 0);
    file.write((directory / "arm.ms3d").string());
    // Each joint's mesh and box are one triangle at its bind place in model space.
    std::ofstream parts(directory / "arm.obj");
    for (const auto& [name, at] : {std::pair{"base", Vector3(0, 0, 0)}, std::pair{"upper", Vector3(0, 2, 0)},
                                   std::pair{"lower", Vector3(-2, 2, 0)}}) {
        for (const char* role : {"OBJ3D", "BBox"}) {
            parts << "# object\ng " << name << role << "\n";
            for (const Vector3& p : {at, at + Vector3(1, 0, 0), at + Vector3(0, 1, 0)}) {
                parts << "v " << p.x << " " << p.y << " " << p.z << "\n";
            }
            parts << "f -3 -2 -1\n";
        }
    }
    parts.close();
    Scene scene;
    KdPool pool(100000);
    Skeleton skeleton;
    loadSkeleton(skeleton, (directory / "arm.ms3d").string(), scene, pool);
    fs::remove_all(directory);

    ASSERT_TRUE(skeleton.root->children.size() == 1 && skeleton.root->children[0]->children.size() == 1);
    const Joint& upper = *skeleton.root->children[0];
    const Joint& lower = *upper.children[0];
    // A joint without keys gets one that holds its bind pose.
    ASSERT_EQ(1u, lower.translationKeys.size());
    EXPECT_EQ(std::tuple(Vector3(0, 2, 0), Quaternion()),
              std::tuple(lower.translationKeys[0].value, lower.rotationKeys[0].value));
    // A key is the bind transform after the key's own, in frames: the moved unit turns with the bind.
    ASSERT_EQ(1u, upper.translationKeys.size());
    EXPECT_EQ(std::tuple(24.0f, 24.0f),
              std::tuple(upper.translationKeys[0].time, upper.rotationKeys[0].time));
    EXPECT_LT(apart(Vector3(0, 2.4f, 0), upper.translationKeys[0].value), 1e-5f);
    const Quaternion& turned = upper.rotationKeys[0].value; // about z after about x: (0.5, 0.5, 0.5, 0.5)
    EXPECT_LT(apart(Vector3(0.5f, 0.5f, 0.5f), Vector3(turned.x, turned.y, turned.z)) +
                  std::abs(turned.w - 0.5f),
              1e-5f);
    // lower is bound at (-2, 2, 0) turned a quarter about z, so the model's +y is its +x.
    EXPECT_LT(apart(Vector3(-2, 2, 0), lower.proxy->position), 1e-5f);
    const SceneObject& lowerMesh = *static_cast<const Scene&>(*lower.proxy->instance).object;
    EXPECT_LT(apart(Vector3(1, 0, 0), lowerMesh.restVertices[2]->position), 1e-5f);
    EXPECT_EQ("meshes/star.obj", companionObjName("meshes/star.ms3d"));
    EXPECT_EQ("./meshes/cylon.obj", companionObjName("./meshes/cylon.ms3d")); // leading dots are no extension
    EXPECT_EQ("/tmp/tmp.x3Yq/ball.obj", companionObjName("/tmp/tmp.x3Yq/ball.ms3d")); // nor a directory's
}

} // namespace
} // namespace Raytracer
