#include "scene/StageLoader.h"

#include "geometry/KdPool.h"
#include "math/FatalError.h"
#include "scene/Scene.h"
#include "shading/AreaLight.h"
#include "shading/SphereLight.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;

// A sphere light, which the shipped scene lacks, and an area light, which it has but only pictures show.
TEST(StageLoader, LightsTakeTheirPlacesFromTheirPositions) {
    const fs::path directory = fs::temp_directory_path() / ("lumenbox-stage-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    std::ofstream(directory / "scene.mtl") << "newmtl red\nKd 0.9 0.1 0.1\n";
    std::ofstream(directory / "scene.obj") << "mtllib scene.mtl\n# object\ng panelAreaLight\nusemtl red\n"
                                              "v 1 10 2\nv 3 10 2\nv 1 10 5\n# object\ng bulbSphereLight\n"
                                              "usemtl red\nv 3 0 0\nv 1 0 0\nv 2 2 0\nv 2 -2 0\n";
    KdPool pool(100000);
    Scene scene;
    loadStage(scene, pool, directory.string() + "/");
    fs::remove_all(directory);
    ASSERT_EQ(2, scene.lightCount());
    const auto* panel = dynamic_cast<const AreaLight*>(scene.lights[0]);
    ASSERT_NE(nullptr, panel); // a corner and its two edges, sampled as a point until switched
    EXPECT_EQ(std::tuple(Vector3(1, 10, 2), Vector3(2, 0, 0), Vector3(0, 0, 3), Light::pointSampling),
              std::tuple(panel->position, panel->edgeU, panel->edgeV, panel->type));
    const auto* bulb = dynamic_cast<const SphereLight*>(scene.lights[1]);
    ASSERT_NE(nullptr, bulb); // the mean of the positions, out to the first one, coloured by Kd
    EXPECT_EQ(std::tuple(Vector3(2, 0, 0), 1.0f, Color(0.9f, 0.1f, 0.1f), Light::sphereSampling),
              std::tuple(bulb->position, bulb->radius, bulb->color, bulb->type));
    // A renderable's box: the name without its leading run of O, B, J, 3 and D, cut at the next one.
    EXPECT_EQ("glassBBox", companionName("OBglassOBJ3D"));
    EXPECT_EQ("RBBox", companionName("ROBOT_OBJ3D"));
}

// A pool that runs out while an object's tree is built refuses the scene in one line naming the file
// and the object; the scene is not half loaded into a renderer.
TEST(StageLoader, APoolThatRunsOutNamesTheObject) {
    KdPool pool(64, 512);
    Scene scene;
    try {
        loadStage(scene, pool, "meshes/");
        FAIL() << "the stage loaded with 512 pool references";
    } catch (const FatalError& error) {
        const std::string line = error.what();
        EXPECT_EQ(0u, line.rfind("meshes/scene.obj, object ", 0)) << line;
        EXPECT_NE(std::string::npos, line.find(": the kd-trees need more than the pool's 512 references: "
                                               "the scene is too large")) << line;
        EXPECT_EQ(std::string::npos, line.find('\n')) << line;
    }
}

} // namespace
} // namespace Raytracer
