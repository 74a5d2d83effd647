#include "tools/import/ModelImporter.h"
#include "tools/import/ObjectImporter.h"
#include "tools/import/StageLayout.h"
#include "tools/scenegen/Models.h"

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
#include <optional>

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

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
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
    std::vector<std::array<Vector3, 2>> before, after;
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
    // A joint's place and its turn, as a rotation of the last joint moves no place.
    const auto pose = [](const Joint* joint) {
        return std::array{joint->proxy->position, Vector3(joint->proxy->rotation.x, joint->proxy->rotation.y,
                                                          joint->proxy->rotation.z)};
    };
    for (const Joint* joint : jointsOf(robot)) {
        frames.before.push_back(pose(joint));
    }
    for (int frame = 0; frame < 5; ++frame) {
        app.renderer->renderFrame();
    }
    for (const Joint* joint : jointsOf(robot)) {
        frames.after.push_back(pose(joint));
    }
    frames.picture.assign(app.frameBuffer->pixels(), app.frameBuffer->pixels() + 32 * 32);
    releaseRenderer(app);
    return frames;
}

const std::string assimpModels = "/usr/share/assimp/models/";

// Skinned models in the robot's slot, read back by the viewer's own loader and rendered: each as tall
// as the robot and standing on the floor at the start, in the picture, and animated where it has
// keys. hog has a vertex bound to no joint; jeep1 has no joints and stands still; simple_skin is glTF
// and BCN_Epileptic DirectX with 58 joints, folded to the viewer's 50.
TEST(ModelImporter, SkinnedModelsImportAndRunInTheRobotSlot) {
    struct Row {
        std::string file;
        std::size_t joints;
        bool animated;
    };
    const std::vector<Color> shipped = renderFrames("meshes/").picture;
    for (const Row& row :
         {Row{sharedModels + "ninja.ms3d", 28, true}, Row{sharedModels + "hog.ms3d", 20, true},
          Row{sharedModels + "jeep1.ms3d", 1, false},
          Row{assimpModels + "glTF2/simple_skin/simple_skin.gltf", 3, true},
          Row{assimpModels + "X/BCN_Epileptic.X", 50, true}}) {
        if (!fs::exists(row.file)) {
            // The shared models may be absent; Assimp's come with a package the tests install.
            EXPECT_TRUE(row.file.starts_with(sharedModels)) << "no " << row.file;
            continue;
        }
        TempFolder out(fs::path(row.file).filename().string(), true);
        std::vector<std::string> notes;
        importModel(robotOptions(row.file, out.folder()), notes);
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

std::size_t textureCount(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::count_if(fs::directory_iterator(folder), fs::directory_iterator(),
                      [](const fs::directory_entry& e) { return e.path().extension() == ".tga"; }));
}

// Real models of several formats added one after another to a new copy of the stage, each as one
// object per material with its box, standing on the floor (height 0) at a free spot or where --at
// puts it, textures decoded; the viewer loads and renders the result. A model that would pass the
// scene's 100 object sections is refused and leaves the folder as it was.
TEST(ObjectImporter, RealModelsJoinTheStageOnTheFloor) {
    struct Row {
        std::string file;
        std::optional<double> height;
        std::optional<std::array<double, 2>> at;
        std::size_t objects;
        std::size_t textures;
    };
    TempFolder out("objects", false);
    const std::string folder = out.folder() + "scene";
    const Row rows[] = {
        {assimpModels + "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", {}, {}, 1, 1},
        {assimpModels + "glTF/CesiumMilkTruck/CesiumMilkTruck.gltf", 3.0, {}, 4, 2},
        {assimpModels + "Collada/duck.dae", {}, std::array<double, 2>{2.0, -12.0}, 1, 1},
        {assimpModels + "PLY/Wuson.ply", {}, {}, 1, 0},
        {assimpModels + "FBX/spider.fbx", 3.0, {}, 4, 0}, // its textures name another machine's paths
        {"tests/tools/import/data/cornell_box.obj", 4.0, {}, 4, 0}, // quads, negative indices
    };
    for (const Row& row : rows) {
        ImportOptions options;
        options.model = row.file;
        options.asObject = true;
        options.outDirectory = folder;
        options.height = row.height;
        options.at = row.at;
        const StageLayout before = readStage(fs::exists(folder) ? folder + "/" : "meshes/");
        const std::size_t boxes = before.boxes.size();
        const std::size_t textures = textureCount(fs::exists(folder) ? folder : "meshes");
        std::vector<std::string> notes;
        importObjects(options, notes);
        const StageLayout after = readStage(folder + "/");
        ASSERT_EQ(boxes + row.objects, after.boxes.size()) << row.file;
        Box model = after.boxes[boxes];
        for (std::size_t i = boxes; i < after.boxes.size(); ++i) {
            model.low = {std::min(model.low.x, after.boxes[i].low.x),
                         std::min(model.low.y, after.boxes[i].low.y),
                         std::min(model.low.z, after.boxes[i].low.z)};
            model.high = {std::max(model.high.x, after.boxes[i].high.x),
                          std::max(model.high.y, after.boxes[i].high.y),
                          std::max(model.high.z, after.boxes[i].high.z)};
        }
        EXPECT_NEAR(-Scenegen::jointBoxMargin, model.low.y, 1e-6) << row.file;
        if (row.height) {
            EXPECT_NEAR(*row.height + 2 * Scenegen::jointBoxMargin, model.high.y - model.low.y, 1e-6)
                << row.file;
        }
        if (row.at) {
            EXPECT_NEAR((*row.at)[0], 0.5 * (model.low.x + model.high.x), 1e-6) << row.file;
        } else {
            for (std::size_t i = 0; i < boxes; ++i) {
                EXPECT_FALSE(model.overlaps(before.boxes[i])) << row.file << " overlaps box " << i;
            }
        }
        EXPECT_EQ(textures + row.textures, textureCount(folder)) << row.file;
    }
    EXPECT_FALSE(std::ranges::equal(
        renderFrames("meshes/").picture, renderFrames(folder + "/").picture,
        [](const Color& a, const Color& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }));

    std::string many = "mtllib many.mtl\n";
    std::string library;
    for (int i = 0; i < 45; ++i) {
        many += Scenegen::format("usemtl m%d\nv %d 0 0\nv %d 1 0\nv %d 0 1\nf -3 -2 -1\n", i, i, i, i);
        library += Scenegen::format("newmtl m%d\nKd 1 0 0\n", i);
    }
    writeBytes(out.folder() + "many.obj", many);
    writeBytes(out.folder() + "many.mtl", library);
    const auto kept = contents(folder);
    const std::size_t sections = readStage(folder + "/").objectSections;
    ImportOptions options;
    options.model = out.folder() + "many.obj";
    options.asObject = true;
    options.outDirectory = folder;
    std::vector<std::string> notes;
    try {
        importObjects(options, notes);
        ADD_FAILURE() << "45 objects were added";
    } catch (const FatalError& error) {
        EXPECT_EQ(options.model + ": 45 objects (one per material, each with its box) would bring " + folder +
                      "/scene.obj to " + std::to_string(sections + 2 * 45) +
                      " object sections; at most 100 are allowed",
                  error.what());
    }
    EXPECT_EQ(kept, contents(folder));
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
