#include "tools/import/ModelImporter.h"

#include "animation/Skeleton.h"
#include "app/AppState.h"
#include "app/Startup.h"
#include "math/FatalError.h"
#include "render/FrameBuffer.h"
#include "render/Renderer.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "tools/scenegen/MilkShapeWriter.h"
#include "tools/scenegen/TextFormat.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

namespace Raytracer::Import {
namespace {

namespace fs = std::filesystem;

const std::string sharedModels = "../shared/testdata/ms3d/";

// A folder of this test's own, removed afterwards; with a copy of meshes/ on request.
struct TempFolder {
    fs::path path;
    TempFolder(const std::string& name, bool withMeshes)
        : path(fs::temp_directory_path() / ("lumenbox-import-" + name + "-" + std::to_string(::getpid()))) {
        fs::remove_all(path);
        withMeshes ? fs::copy("meshes", path) : (void)fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    std::string folder() const { return path.string() + "/"; }
};

std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(file), {});
    }
    return files;
}

ImportOptions robotOptions(const std::string& model, const std::string& out) {
    ImportOptions options;
    options.model = model;
    options.slot = findSlot("robot");
    options.outDirectory = out;
    return options;
}

std::vector<const Joint*> jointsOf(const Joint& root) {
    std::vector<const Joint*> joints = {&root};
    for (std::size_t i = 0; i < joints.size(); ++i) {
        joints.insert(joints.end(), joints[i]->children.begin(), joints[i]->children.end());
    }
    return joints;
}

// The robot's lowest and highest point in the scene as its joints now stand.
std::pair<float, float> heightRange(const Joint& root) {
    std::pair<float, float> range{1e9f, -1e9f};
    for (const Joint* joint : jointsOf(root)) {
        const SceneObject& proxy = *joint->proxy;
        for (const Vertex* v : static_cast<const Scene&>(*proxy.instance).object->restVertices) {
            const float y = (proxy.rotation.rotate(v->position) + proxy.position).y;
            range = {std::min(range.first, y), std::max(range.second, y)};
        }
    }
    return range;
}

// The first few frames of the viewer's scene read from folder: its picture and the robot's joint
// positions before and after.
struct Frames {
    std::vector<Color> picture;
    std::vector<Vector3> before, after;
    std::size_t joints = 0;
    std::pair<float, float> height;
};

Frames renderFrames(const std::string& folder) {
    AppState app;
    app.imageWidth = app.imageHeight = 32;
    app.sceneDirectory = folder;
    initialiseRenderer(app);
    Frames frames;
    const Joint& robot = *app.renderer->scene->models[0]->root;
    frames.joints = jointsOf(robot).size();
    frames.height = heightRange(robot);
    for (const Joint* joint : jointsOf(robot)) {
        frames.before.push_back(joint->proxy->position);
    }
    for (int frame = 0; frame < 5; ++frame) {
        app.renderer->renderFrame();
    }
    for (const Joint* joint : jointsOf(robot)) {
        frames.after.push_back(joint->proxy->position);
    }
    frames.picture.assign(app.frameBuffer->pixels(), app.frameBuffer->pixels() + 32 * 32);
    releaseRenderer(app);
    return frames;
}

// The shared test models in the robot's slot, read back by the viewer's own loader and rendered:
// each as tall as the robot and standing on the floor at the start, in the picture, and animated
// where it has keys. hog has a vertex bound to no joint; jeep1 has no joints and stands still.
TEST(ModelImporter, SharedModelsImportAndRunInTheRobotSlot) {
    if (!fs::is_directory(sharedModels)) {
        GTEST_SKIP() << "no " << sharedModels;
    }
    struct Row {
        const char* file;
        std::size_t joints;
        bool animated;
    };
    const std::vector<Color> shipped = renderFrames("meshes/").picture;
    for (const Row& row :
         {Row{"ninja.ms3d", 28, true}, Row{"hog.ms3d", 20, true}, Row{"jeep1.ms3d", 1, false}}) {
        TempFolder out(row.file, true);
        std::vector<std::string> notes;
        importModel(robotOptions(sharedModels + row.file, out.folder()), notes);
        const Frames frames = renderFrames(out.folder());
        EXPECT_EQ(row.joints, frames.joints) << row.file;
        EXPECT_NEAR(0.0f, frames.height.first, 1e-3f) << row.file;
        EXPECT_NEAR(findSlot("robot")->height, frames.height.second, 1e-3f) << row.file;
        EXPECT_EQ(row.animated, frames.before != frames.after) << row.file;
        EXPECT_FALSE(
            std::equal(shipped.begin(), shipped.end(), frames.picture.begin(),
                       [](const Color& a, const Color& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }))
            << row.file;
    }
}

// One triangle of height 1 bound to the first of a chain (or a fan) of joints.
Scenegen::MsWriterModel skinned(int joints, bool fan) {
    Scenegen::MsWriterModel model;
    model.vertices.resize(3);
    model.vertices[1].position[0] = 1.0f;
    model.vertices[2].position[1] = 1.0f;
    for (Scenegen::MsWriterVertex& vertex : model.vertices) {
        vertex.boneId = 0;
    }
    model.triangles.resize(1);
    model.triangles[0].vertexIndices[1] = 1;
    model.triangles[0].vertexIndices[2] = 2;
    for (int j = 0; j < joints; ++j) {
        Scenegen::MsWriterJoint joint;
        joint.name = Scenegen::format("j%d", j);
        joint.parentName = j == 0 ? "" : Scenegen::format("j%d", fan ? 0 : j - 1);
        model.joints.push_back(joint);
    }
    return model;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string milkShape(const Scenegen::MsWriterModel& model) {
    const std::vector<std::uint8_t> bytes = Scenegen::writeMilkShape(model);
    return std::string(bytes.begin(), bytes.end());
}

// Each refusal is one line naming the model file (or the missing folder) and the problem, and the
// output folder is left exactly as it was, without temporary files.
TEST(ModelImporter, RefusalsNameTheFileAndLeaveTheFolderAsItWas) {
    TempFolder models("models", false);
    TempFolder out("out", false);
    writeBytes(out.folder() + "cylon.obj", "kept\n");
    Scenegen::MsWriterModel loop = skinned(3, false);
    loop.joints[0].parentName = "j2";
    Scenegen::MsWriterModel outside = skinned(1, false);
    outside.triangles[0].vertexIndices[2] = 7;
    struct Row {
        const char* name;
        std::string bytes;
        double height;
        std::string problem;
    };
    const std::string whole = milkShape(skinned(2, false));
    const Row rows[] = {
        {"51-joints", milkShape(skinned(51, false)), 1,
         "51 joints need 102 parts (a mesh and a box each); the viewer takes at most 100"},
        {"21-children", milkShape(skinned(22, true)), 1,
         "joint j0 has more than 20 children; the viewer takes at most 20"},
        {"loop", milkShape(loop), 1, "the parents of joint j0 run in a loop"},
        {"outside", milkShape(outside), 1, "triangle 1 uses vertex 8 of 3"},
        {"too-tall", milkShape(skinned(1, false)), 100,
         "the part of joint j0 reaches 100.0 units from its joint along y; the viewer traces -15 to 15 about "
         "a "
         "joint (a smaller --height fits)"},
        {"truncated", whole.substr(0, whole.size() / 2), 1,
         "the file ends inside joint 1 of 2 (its header needs 93 bytes, 66 remain)"},
        {"text", "a text file, not a model", 1, "not a MilkShape 3D version 4 file"},
    };
    const auto before = contents(out.path);
    for (const Row& row : rows) {
        const std::string path = models.folder() + row.name + ".ms3d";
        writeBytes(path, row.bytes);
        ImportOptions options = robotOptions(path, out.folder());
        options.height = row.height;
        std::vector<std::string> notes;
        try {
            importModel(options, notes);
            ADD_FAILURE() << row.name << " was imported";
        } catch (const FatalError& error) {
            EXPECT_EQ(path + ": " + row.problem, error.what());
        }
        EXPECT_EQ(before, contents(out.path)) << row.name;
    }
    const std::string fine = models.folder() + "fine.ms3d";
    writeBytes(fine, milkShape(skinned(1, false)));
    try {
        std::vector<std::string> notes;
        importModel(robotOptions(fine, out.folder() + "missing"), notes);
        ADD_FAILURE() << "imported into a missing folder";
    } catch (const FatalError& error) {
        EXPECT_EQ(out.folder() +
                      "missing: no such folder (the output folder must exist, usually a copy of meshes/)",
                  error.what());
    }
}

} // namespace
} // namespace Raytracer::Import
