#include "scene/SceneLoader.h"

#include "animation/Skeleton.h"
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/TraversalScratch.h"
#include "geometry/Triangle.h"
#include "math/FatalError.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "shading/AreaLight.h"
#include "shading/SphereLight.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;

// A scene folder in a temporary directory, with scene.obj and scene.mtl written by the test.
class SceneLoaderTest : public ::testing::Test {
  protected:
    SceneLoaderTest()
        : directory(fs::temp_directory_path() /
                    ("lumenbox_scene_" + std::to_string(::getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          pool(100000) {
        fs::create_directories(directory);
        write("scene.mtl", "newmtl white\nKd 1 0.5 0.25\nnewmtl red\nKd 0.9 0.1 0.1\n");
        // Every scene comes with the four animated models; the shipped ones serve.
        for (const char* name : {"star", "cylon", "ball", "2ball"}) {
            fs::copy_file(fs::path("meshes") / (std::string(name) + ".ms3d"),
                          directory / (std::string(name) + ".ms3d"));
            fs::copy_file(fs::path("meshes") / (std::string(name) + ".obj"),
                          directory / (std::string(name) + ".obj"));
        }
        fs::copy_file("meshes/models.mtl", directory / "models.mtl");
    }
    ~SceneLoaderTest() override { fs::remove_all(directory); }

    void write(const std::string& name, const std::string& text) { std::ofstream(directory / name) << text; }

    void load(const std::string& sceneText) {
        write("scene.obj", sceneText);
        loadScene(scene, pool, directory.string() + "/");
    }

    std::string loadError(const std::string& sceneText) {
        try {
            load(sceneText);
        } catch (const FatalError& error) {
            return error.what();
        }
        return "<loaded>";
    }

    fs::path directory;
    KdPool pool;
    Scene scene;
};

// Proxy triangles of the models' joints: they follow the scene's own primitives.
int jointTriangles(const Joint& joint) {
    int count = joint.proxy->endPrimitive - joint.proxy->firstPrimitive;
    for (const Joint* child : joint.children) {
        count += jointTriangles(*child);
    }
    return count;
}

int modelTriangles(const Scene& scene) {
    int count = 0;
    for (const Skeleton* model : scene.models) {
        count += model != nullptr ? jointTriangles(*model->root) : 0;
    }
    return count;
}

// A unit-sized quad at height y in the given object, 4 positions and 2 faces; base is the number of
// positions before it in the file.
std::string quad(const std::string& name, float y, int base, const std::string& material = "white") {
    std::string text = "# object\ng " + name + "\nusemtl " + material + "\n";
    for (const char* corner : {"0 %Y 0", "1 %Y 0", "1 %Y 1", "0 %Y 1"}) {
        std::string line = std::string("v ") + corner + "\n";
        line.replace(line.find("%Y"), 2, std::to_string(y));
        text += line;
    }
    const auto index = [&](int k) { return std::to_string(base + k); };
    text += "f " + index(1) + " " + index(2) + " " + index(3) + "\n";
    text += "f " + index(1) + " " + index(3) + " " + index(4) + "\n";
    return text;
}

// The eight corners and twelve faces of a box from lo to hi.
std::string box(const std::string& name, float lo, float hi, int base) {
    std::string text = "# object\ng " + name + "\n";
    for (int i = 0; i < 8; ++i) {
        text += "v " + std::to_string(i & 1 ? hi : lo) + " " + std::to_string(i & 2 ? hi : lo) + " " +
                std::to_string(i & 4 ? hi : lo) + "\n";
    }
    const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                             {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& f : faces) {
        const auto at = [&](int k) { return std::to_string(base + f[k] + 1); };
        text += "f " + at(0) + " " + at(1) + " " + at(2) + "\nf " + at(0) + " " + at(2) + " " + at(3) + "\n";
    }
    return text;
}

TEST(CompanionName, DropsTheLeadingRunAndCutsAtTheNextRoleCharacter) {
    EXPECT_EQ("tableBBox", companionName("tableOBJ3D\n"));
    EXPECT_EQ("RBBox", companionName("ROBOT_OBJ3D"));
    EXPECT_EQ("chairBBox", companionName("chairOBJ3D2"));
    EXPECT_EQ("glassBBox", companionName("OBglassOBJ3D"));
}

TEST_F(SceneLoaderTest, RolesFollowTheNames) {
    std::string text = "mtllib scene.mtl\n";
    text += "# object\ng SceneBBox\nv 0 0 0\n";                                       // positions 1
    text += quad("floorEnvironment", 0.0f, 1);                                        // 2..5
    text += "# object\ng keyAreaLight\nusemtl white\nv 1 10 2\nv 3 10 2\nv 1 10 5\n"; // 6..8
    text += "# object\ng lampPointLight\nusemtl red\nv 0 4 0\nv 2 8 0\n";             // 9..10
    text += "# object\ng bulbSphereLight\nusemtl red\nv 3 0 0\nv 1 0 0\n";            // 11..12
    text += box("cubeOBJ3D", 2.0f, 3.0f, 12);                                         // 13..20
    text += box("cubeBBox", 1.5f, 3.5f, 20);                                          // 21..28
    text += "# object\ng somethingElse\nv 0 0 0\n";
    load(text);

    EXPECT_EQ(Vector3(-240, -240, -240), scene.boundsMin);
    EXPECT_EQ(Vector3(480, 480, 480), scene.boundsSize);

    // Two environment triangles (lit) and twelve proxy triangles, in file order.
    ASSERT_EQ(14 + modelTriangles(scene), scene.primitiveCount());
    EXPECT_GT(modelTriangles(scene), 0);
    EXPECT_EQ(Primitive::lit, scene.primitives[0]->type);
    EXPECT_NE(nullptr, scene.primitives[0]->material);
    const Primitive* proxyTriangle = scene.primitives[2];
    EXPECT_EQ(Primitive::proxy, proxyTriangle->type);
    EXPECT_EQ(nullptr, proxyTriangle->material);

    // The renderable object lives in its own scene, rebased to its box's lowest corner.
    SceneObject* proxy = proxyTriangle->owner;
    ASSERT_NE(nullptr, proxy);
    Scene* local = proxy->instance;
    ASSERT_NE(nullptr, local);
    EXPECT_EQ(proxy, local->proxy);
    EXPECT_EQ(Vector3(1.5f, 1.5f, 1.5f), proxy->position);
    EXPECT_EQ(Quaternion(), proxy->rotation);
    ASSERT_EQ(12, local->primitiveCount());
    EXPECT_EQ(Primitive::lit, local->primitives[0]->type);
    Vector3 lo;
    Vector3 hi;
    local->object->computeBounds(lo, hi);
    EXPECT_EQ(Vector3(0.5f, 0.5f, 0.5f), lo);
    EXPECT_EQ(Vector3(1.5f, 1.5f, 1.5f), hi);
    EXPECT_EQ(Vector3(-240, -240, -240), local->boundsMin);
    EXPECT_NE(nullptr, local->accelerator);
    EXPECT_EQ(0, local->lightCount());

    // Lights in file order, coloured by their material's Kd.
    ASSERT_EQ(3, scene.lightCount());
    const auto* area = dynamic_cast<const AreaLight*>(scene.lights[0]);
    ASSERT_NE(nullptr, area);
    EXPECT_EQ(Light::pointSampling, area->type); // until the command line or the J key switch it
    EXPECT_EQ(Vector3(1, 10, 2), area->position);
    EXPECT_EQ(Vector3(2, 0, 0), area->edgeU);
    EXPECT_EQ(Vector3(0, 0, 3), area->edgeV);
    EXPECT_EQ(Color(1, 0.5f, 0.25f), area->color);
    EXPECT_EQ(Vector3(1, 6, 0), scene.lights[1]->position);
    EXPECT_EQ(Light::pointSampling, scene.lights[1]->type);
    EXPECT_EQ(Color(0.9f, 0.1f, 0.1f), scene.lights[1]->color);
    const auto* sphere = dynamic_cast<const SphereLight*>(scene.lights[2]);
    ASSERT_NE(nullptr, sphere);
    EXPECT_EQ(Light::sphereSampling, sphere->type);
    EXPECT_EQ(Vector3(2, 0, 0), sphere->position);
    EXPECT_EQ(1.0f, sphere->radius);

    // The top-level tree finds the object through its proxy at its world distance.
    ASSERT_NE(nullptr, scene.accelerator);
    auto scratch = std::make_unique<TraversalScratch>();
    HitRecord record;
    EXPECT_NE(0, scene.accelerator->intersectNearest(Ray{{2.5f, 2.5f, -10}, {0, 0, 1}}, record, *scratch));
    EXPECT_EQ(local, record.instance);
    EXPECT_NEAR(12.0f, record.distance, 1e-4f);
    EXPECT_EQ(0,
              scene.accelerator->intersectNearest(Ray{{3.6f, 2.5f, -10}, {0, 0, 1}}, record, *scratch) != 0 &&
                  record.instance == local);
}

TEST_F(SceneLoaderTest, FirstMatchingRuleWins) {
    std::string text = "mtllib scene.mtl\n";
    text += box("lampPointLightOBJ3D", 0.0f, 1.0f, 0); // renderable, not a light
    text += box("lampPointLightBBox", -0.5f, 1.5f, 8); // a light: only the substring counts
    text += "# object\ng SceneBBox\n";
    // Without a usemtl the box light has no colour.
    EXPECT_NE(std::string::npos, loadError(text).find("lampPointLightBBox"));

    Scene other;
    std::string shared = "mtllib scene.mtl\n";
    shared += box("chairOBJ3D", 0.0f, 1.0f, 0);
    shared += box("chairOBJ3D2", 0.0f, 1.0f, 8);
    shared += box("chairBBox", -0.5f, 1.5f, 16);
    shared += "# object\ng SceneBBox\n";
    write("scene.obj", shared);
    loadScene(other, pool, directory.string() + "/");
    // Both renderables take chairBBox as their proxy: 24 proxy triangles.
    EXPECT_EQ(24 + modelTriangles(other), other.primitiveCount());
    EXPECT_NE(other.primitives[0]->owner, other.primitives[12]->owner);
}

TEST_F(SceneLoaderTest, EnvironmentRenderablesAreUnlit) {
    std::string text = "mtllib scene.mtl\n";
    text += box("skyenvOBJ3D", 0.0f, 1.0f, 0);
    text += box("skyenvBBox", -0.5f, 1.5f, 8);
    load(text);
    const Scene* local = scene.primitives.at(0)->owner->instance;
    EXPECT_EQ(Primitive::environment, local->primitives.at(0)->type);
    // No SceneBBox: the top-level box stays empty.
    EXPECT_EQ(Vector3(0, 0, 0), scene.boundsSize);
}

TEST_F(SceneLoaderTest, AFileWithoutObjectsHoldsOnlyAHeader) {
    load("mtllib scene.mtl\nv 1 2 3\nf 1 1 1\n");
    EXPECT_EQ(modelTriangles(scene), scene.primitiveCount());
    EXPECT_EQ(0, scene.lightCount());
    EXPECT_NE(nullptr, scene.accelerator);
}

TEST_F(SceneLoaderTest, ScenesThatCannotBeBuiltAreRefusedInOneLine) {
    const std::string path = (directory / "scene.obj").string();
    const auto expectOneLine = [&](const std::string& text, const std::string& expected) {
        const std::string error = loadError(text);
        EXPECT_NE(std::string::npos, error.find(expected)) << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
    };
    expectOneLine("mtllib scene.mtl\n" + box("tableOBJ3D", 0.0f, 1.0f, 0),
                  "no companion box object named tableBBox");

    std::string lights = "mtllib scene.mtl\n";
    for (int i = 0; i < 11; ++i) {
        lights += "# object\ng l" + std::to_string(i) + "PointLight\nusemtl white\nv 0 0 0\n";
    }
    expectOneLine(lights, "more than 10 lights");

    expectOneLine("mtllib scene.mtl\n# object\ng lampPointLight\nusemtl missing\nv 0 0 0\n",
                  "needs a material");
    expectOneLine("mtllib scene.mtl\n# object\ng keyAreaLight\nusemtl white\nv 0 0 0\nv 1 0 0\n",
                  "needs three positions");
    expectOneLine("mtllib scene.mtl\n# object\ng floorEnvironment\nv 0 0 0\nv 1 0 0\nv 0 0 1\nf 1 2 9\n",
                  "floorEnvironment: a face uses vertex 9");

    std::string many = "mtllib scene.mtl\n# object\ng bigEnvironment\n";
    for (int i = 0; i < 1001; ++i) {
        many += "v " + std::to_string(i) + " 0 0\n";
    }
    for (int i = 0; i < 1001; ++i) {
        many +=
            "f " + std::to_string(i + 1) + " " + std::to_string(i + 1) + " " + std::to_string(i + 1) + "\n";
    }
    expectOneLine(many, "at most 1000 are allowed");

    fs::remove(directory / "scene.mtl");
    expectOneLine("mtllib scene.mtl\n", "Error reading file: scene.mtl");

    Scene empty;
    try {
        loadScene(empty, pool, (directory / "nowhere").string() + "/");
        FAIL() << "loaded a missing scene";
    } catch (const FatalError& error) {
        EXPECT_EQ("Error reading file " + (directory / "nowhere").string() + "/scene.obj", error.what());
    }
}

// The scene the program ships with loads, with its first light an area light.
TEST(SceneLoader, TheShippedSceneLoads) {
    KdPool pool(200000);
    Scene scene;
    loadScene(scene, pool);
    EXPECT_GT(scene.primitiveCount(), 0);
    ASSERT_GT(scene.lightCount(), 0);
    EXPECT_NE(nullptr, dynamic_cast<const AreaLight*>(scene.firstLight()));
    EXPECT_NE(nullptr, scene.accelerator);
    EXPECT_EQ(Vector3(480, 480, 480), scene.boundsSize);
}

} // namespace
} // namespace Raytracer
