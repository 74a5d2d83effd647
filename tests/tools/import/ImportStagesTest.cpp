#include "tools/import/RigidParts.h"

#include "math/FatalError.h"
#include "math/ModelMath.h"
#include "tools/import/Handedness.h"
#include "tools/import/KeyTrack.h"
#include "tools/import/StagedFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace Raytracer::Import {
namespace {

MsJoint joint(const char* name, const char* parent, float y) {
    MsJoint j;
    j.name = name;
    j.parentName = parent;
    j.position = {0, y, 0};
    return j;
}

MsTriangle triangle(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::array<float, 3> normal) {
    MsTriangle t;
    t.vertexIndices = {a, b, c};
    t.vertexNormals = {normal, normal, normal};
    return t;
}

// Worked by hand. Joints hip (root), knee and foot; corners bound to hip (H), knee (K), foot (F) or to
// nothing (-). Triangles 0 (H K K) and 1 (K - K) go to the knee, 2 (H - -) and 3 (K - -) to the hip, as
// unbound corners count for the root, and 4 (H K F), all different, to its first corner's hip. Vertex
// 6 is vertex 1 again under another index. Triangle 1 shares the edge 1-2 with triangle 0 and has the
// same normal there (smooth: the knee keeps 4 vertices) or another (hard: the edge's two positions
// are written twice).
TEST(RigidParts, TrianglesGoToTheirMajorityJointAndVerticesSplitByNormal) {
    msModel model;
    model.joints = {joint("hip", "", 0), joint("knee", "hip", 1), joint("foot", "knee", 1)};
    const std::array<std::pair<std::array<float, 3>, std::int8_t>, 7> vertices = {{
        {{0, 0, 0}, 0},
        {{1, 0, 0}, 1},
        {{0, 1, 0}, 1},
        {{1, 1, 0}, -1},
        {{0, 0, 1}, -1},
        {{0, 2, 0}, 2},
        {{1, 0, 0}, 1},
    }};
    for (const auto& [position, bone] : vertices) {
        MsVertex v;
        v.position = position;
        v.boneId = bone;
        model.vertices.push_back(v);
    }
    struct Row {
        std::array<float, 3> secondNormal;
        std::size_t kneeVertices;
    };
    for (const Row& row : {Row{{0, 0, 1}, 4}, Row{{1, 0, 0}, 6}}) {
        model.triangles = {triangle(0, 1, 2, {0, 0, 1}), triangle(6, 3, 2, row.secondNormal),
                           triangle(0, 4, 3, {0, 1, 0}), triangle(2, 3, 4, {0, 1, 0}),
                           triangle(0, 1, 5, {0, 1, 0})};
        std::vector<std::string> notes;
        const JointTree tree = buildJointTree(model, "model.ms3d", notes);
        const PartSplit split =
            splitIntoParts(model, tree, importMaterials(model, "model.ms3d", "cylon", notes));
        ASSERT_EQ(3u, split.parts.size());
        EXPECT_EQ(3u, split.parts[0].mesh.triangles.size());
        EXPECT_EQ(2u, split.parts[1].mesh.triangles.size());
        EXPECT_EQ(0u, split.parts[2].mesh.triangles.size());
        EXPECT_EQ(row.kneeVertices, split.parts[1].mesh.positions.size());
        EXPECT_EQ(row.kneeVertices, split.parts[1].mesh.normals.size());
        EXPECT_TRUE(notes.empty());
    }
}

// Names the viewer could not hold or would read wrongly, and what they become.
TEST(JointTree, NamesAreMendedToShortUniqueViewerNames) {
    msModel model;
    for (const char* name :
         {"a_very_long_joint_name_1", "a_very_long_joint_name_2", "visorenv", "left arm", ""}) {
        model.joints.push_back(joint(name, model.joints.empty() ? "" : "a_very_long_joint_name_1", 0));
    }
    std::vector<std::string> notes;
    const JointTree tree = buildJointTree(model, "model.ms3d", notes);
    const char* expected[] = {"a_very_long_joint_n", "a_very_long_joint_2", "visorEnv", "left_arm", "joint"};
    for (std::size_t j = 0; j < tree.joints.size(); ++j) {
        EXPECT_EQ(expected[j], tree.joints[j].name);
    }
    ASSERT_EQ(1u, notes.size());
    EXPECT_EQ(
        "model.ms3d: joint names mended for the viewer (at most 19 letters, digits, _ or -, unique): "
        "a_very_long_joint_name_1 -> a_very_long_joint_n, a_very_long_joint_name_2 -> a_very_long_joint_2, "
        "visorenv -> visorEnv, left arm -> left_arm, (no name) -> joint",
        notes[0]);
}

std::vector<MsKeyframe> keys(std::initializer_list<MsKeyframe> list) {
    return list;
}

// Keys on shared times pass untouched; channels on different times are merged, the missing values
// computed (a rotation about x halfway from 0 to 1 is 0.5); too many keys are thinned evenly.
TEST(KeyTrack, KeysAreSharedAndThinnedAsTheViewerPairsThem) {
    std::vector<MsKeyframe> rotation = keys({{0, {0, 0, 0}}, {10, {1, 0, 0}}});
    std::vector<MsKeyframe> position = keys({{5, {2, 4, 6}}});
    const KeyFit merged = fitKeys(rotation, position, 500);
    EXPECT_TRUE(merged.resampled);
    ASSERT_EQ(3u, rotation.size());
    ASSERT_EQ(3u, position.size());
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(5.0f * k, rotation[k].time);
        EXPECT_EQ(5.0f * k, position[k].time);
        EXPECT_EQ(4.0f, position[k].value[1]);
    }
    EXPECT_NEAR(0.5f, rotation[1].value[0], 1e-6f);
    EXPECT_EQ(1.0f, rotation[2].value[0]);

    std::vector<MsKeyframe> many;
    for (int k = 0; k < 999; ++k) {
        many.push_back({static_cast<float>(k), {0.001f * k, 0, 0}});
    }
    std::vector<MsKeyframe> manyPositions = many;
    const KeyFit thinned = fitKeys(many, manyPositions, 500);
    EXPECT_FALSE(thinned.resampled);
    ASSERT_EQ(500u, many.size());
    for (std::size_t k = 0; k < many.size(); ++k) {
        EXPECT_EQ(2.0f * k, many[k].time); // 998 intervals into 499: every other key
        EXPECT_EQ(0.001f * static_cast<float>(2 * k), many[k].value[0]);
    }

    std::vector<MsKeyframe> same = keys({{1, {0.1f, 0.2f, 0.3f}}, {2, {0.4f, 0.5f, 0.6f}}});
    std::vector<MsKeyframe> samePositions = same;
    const std::vector<MsKeyframe> before = same;
    EXPECT_FALSE(fitKeys(same, samePositions, 500).resampled);
    for (std::size_t k = 0; k < same.size(); ++k) {
        EXPECT_EQ(before[k].value, same[k].value);
    }
}

// x -> -x for everything the file places, with rotations R becoming M R M (M = diag(-1, 1, 1)) and each
// triangle's second and third corners swapped, so that it still turns the same way seen from outside.
TEST(Handedness, ModelsAreMirroredInXWithTheirPosesAndKeys) {
    msModel model;
    model.vertices.resize(1);
    model.vertices[0].position = {1, 2, 3};
    model.triangles = {triangle(0, 1, 2, {})};
    model.triangles[0].vertexNormals = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    model.triangles[0].s = {0.1f, 0.2f, 0.3f};
    model.joints = {joint("hip", "", 2)};
    model.joints[0].rotation = {0.3f, -0.7f, 1.1f};
    model.joints[0].rotationKeys = {{1, {0.2f, 0.4f, 0.6f}}};
    model.joints[0].positionKeys = {{1, {4, 5, 6}}};
    const msModel original = model;
    mirrorToViewerSpace(model);

    EXPECT_EQ((std::array<float, 3>{-1, 2, 3}), model.vertices[0].position);
    EXPECT_EQ((std::array<std::uint16_t, 3>{0, 2, 1}), model.triangles[0].vertexIndices);
    EXPECT_EQ((std::array<std::array<float, 3>, 3>{{{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}}}),
              model.triangles[0].vertexNormals);
    EXPECT_EQ((std::array<float, 3>{0.1f, 0.3f, 0.2f}), model.triangles[0].s);
    EXPECT_EQ((std::array<float, 3>{-0.0f, 2, 0}), model.joints[0].position);
    EXPECT_EQ((std::array<float, 3>{-4, 5, 6}), model.joints[0].positionKeys[0].value);
    const auto matrix = [](const std::array<float, 3>& angles, Matrix3x4& m) {
        float q[4];
        eulerToQuaternion(angles.data(), q);
        quaternionToMatrix(q, m);
    };
    const std::pair<std::array<float, 3>, std::array<float, 3>> rotations[] = {
        {original.joints[0].rotation, model.joints[0].rotation},
        {original.joints[0].rotationKeys[0].value, model.joints[0].rotationKeys[0].value}};
    for (const auto& [before, after] : rotations) {
        Matrix3x4 r, mirrored;
        matrix(before, r);
        matrix(after, mirrored);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(((i == 0) != (j == 0) ? -1.0f : 1.0f) * r[i][j], mirrored[i][j], 1e-6f) << i << j;
    }
}

} // namespace
} // namespace Raytracer::Import

namespace Raytracer::Import {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        found.insert(entry.path().filename().string());
    }
    return found;
}

// A folder in the way of the second of two renames: the first target gets its old bytes back, and no
// temporary file stays. A new folder whose name is taken meanwhile, even by an empty folder, is not
// made, and its copy goes.
TEST(StagedFiles, ARenameThatFailsLeavesEveryTargetAsItWas) {
    const fs::path root = fs::temp_directory_path() / ("lumenbox-staged-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "scene" / "b.txt");
    std::ofstream(root / "scene" / "a.txt") << "old a";
    {
        StagedFiles staged((root / "scene").string());
        staged.add("a.txt", "new a");
        staged.add("b.txt", "new b");
        EXPECT_THROW(
            try { staged.commit(); } catch (const FatalError& error) {
                EXPECT_EQ((root / "scene" / "b.txt").string() + ": cannot be replaced (Is a directory)",
                          error.what());
                throw;
            },
            FatalError);
    }
    EXPECT_EQ("old a", readAll(root / "scene" / "a.txt"));
    EXPECT_EQ((std::set<std::string>{"a.txt", "b.txt"}), names(root / "scene"));
    {
        StagedFiles staged((root / "new").string(), (root / "scene").string());
        staged.add("a.txt", "new a");
        fs::create_directory(root / "new");
        EXPECT_THROW(staged.commit(), FatalError);
    }
    EXPECT_TRUE(fs::is_empty(root / "new"));
    EXPECT_EQ((std::set<std::string>{"new", "scene"}), names(root));
    fs::remove_all(root);
}

} // namespace
} // namespace Raytracer::Import
