#include "animation/Skeleton.h"
#include "geometry/KdPool.h"
#include "geometry/Primitive.h"
#include "geometry/Triangle.h"
#include "scene/Material.h"
#include "scene/ObjParser.h"
#include "scene/Scene.h"
#include "scene/SceneLoader.h"
#include "scene/SceneObject.h"
#include "shading/AreaLight.h"
#include "shading/Map.h"
#include "shading/PointLight.h"
#include "shading/Texture.h"
#include "shading/TextureBW.h"
#include "tools/scenegen/ObjWriter.h"
#include "tools/scenegen/SceneWriter.h"
#include "tools/scenegen/TgaWriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::set<std::string> fileNames(const fs::path& directory) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        if (entry.is_regular_file()) {
            names.insert(entry.path().filename().string());
        }
    }
    return names;
}

float scalar(const Map* map) {
    float out[3];
    return map->lookup(out, 0.0f, 0.0f, 0.0f)[0];
}

// The whole generator output, written once into a fresh temporary folder.
class SceneGeneratorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_directory = new fs::path(fs::temp_directory_path() /
                                   ("lumenbox-scenegen-test-" + std::to_string(::getpid())));
        fs::remove_all(*s_directory);
        fs::create_directories(*s_directory);
        Scenegen::writeScene(s_directory->string());
    }
    static void TearDownTestSuite() {
        fs::remove_all(*s_directory);
        delete s_directory;
        s_directory = nullptr;
    }
    static std::string directory() { return s_directory->string() + "/"; }

    static fs::path* s_directory;
};

fs::path* SceneGeneratorTest::s_directory = nullptr;

TEST_F(SceneGeneratorTest, CommittedMeshesAreExactlyWhatTheGeneratorWrites) {
    const std::set<std::string> generated = fileNames(directory());
    const std::set<std::string> committed = fileNames("meshes");
    ASSERT_FALSE(generated.empty());
    for (const std::string& name : generated) {
        ASSERT_TRUE(committed.count(name) == 1)
            << "meshes/" << name << " is missing; run lumenbox-scenegen meshes";
        EXPECT_TRUE(readBytes(directory() + name) == readBytes("meshes/" + name))
            << "meshes/" << name << " differs from the generator's output; run lumenbox-scenegen meshes";
    }
    for (const std::string& name : committed) {
        EXPECT_TRUE(generated.count(name) == 1) << "meshes/" << name << " is not written by the generator";
    }
}

TEST_F(SceneGeneratorTest, WritingAgainGivesTheSameBytes) {
    const fs::path again = fs::path(directory()) / "again";
    fs::create_directories(again);
    Scenegen::writeScene(again.string());
    for (const std::string& name : fileNames(again)) {
        EXPECT_TRUE(readBytes(again / name) == readBytes(directory() + name)) << name;
    }
    fs::remove_all(again);
}

// The loaders map file-wide indices to an object's own lists by subtracting the smallest index its
// faces use; that is only right when the smallest is the object's first entry.
TEST_F(SceneGeneratorTest, EveryObjectsFacesStartAtItsOwnFirstEntries) {
    std::FILE* file = std::fopen((directory() + "scene.obj").c_str(), "r");
    ASSERT_NE(file, nullptr);
    ObjParser parser(file, "scene.obj", directory());
    const ObjFile parsed = parser.readObjFile();
    std::fclose(file);

    std::int32_t positions = 0;
    std::int32_t normals = 0;
    std::int32_t texCoords = 0;
    for (const ObjModel& object : parsed.objects) {
        ASSERT_TRUE(object.groupName.has_value());
        if (!object.faces.empty()) {
            std::int32_t smallest[3] = {1 << 30, 1 << 30, 1 << 30};
            std::int32_t largest[3] = {-1, -1, -1};
            for (const ObjFace& face : object.faces) {
                EXPECT_EQ(face.cornerCount, 3) << *object.groupName;
                for (int k = 0; k < 3; ++k) {
                    const std::int32_t index[3] = {face.vertex[k], face.normal[k], face.texCoord[k]};
                    for (int kind = 0; kind < 3; ++kind) {
                        if (index[kind] >= 0) {
                            smallest[kind] = std::min(smallest[kind], index[kind]);
                            largest[kind] = std::max(largest[kind], index[kind]);
                        }
                    }
                }
            }
            EXPECT_EQ(smallest[0], positions) << *object.groupName;
            EXPECT_LT(largest[0], positions + static_cast<std::int32_t>(object.vertices.size()))
                << *object.groupName;
            if (!object.normals.empty()) {
                EXPECT_EQ(smallest[1], normals) << *object.groupName;
                EXPECT_EQ(smallest[2], texCoords) << *object.groupName;
                EXPECT_LT(largest[1], normals + static_cast<std::int32_t>(object.normals.size()));
                EXPECT_LT(largest[2], texCoords + static_cast<std::int32_t>(object.texCoords.size()));
            }
        }
        positions += static_cast<std::int32_t>(object.vertices.size());
        normals += static_cast<std::int32_t>(object.normals.size());
        texCoords += static_cast<std::int32_t>(object.texCoords.size());
    }
}

// The stage's share of the top-level budget of 1000 triangles: environment objects and 12 per
// renderable object's box; the models' joint boxes take the rest.
TEST_F(SceneGeneratorTest, StageKeepsItsShareOfTheTopLevelTriangles) {
    std::istringstream lines(readBytes(directory() + "scene.obj"));
    std::string line;
    std::string object;
    int environmentTriangles = 0;
    int renderables = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("g ", 0) == 0) {
            object = line.substr(2);
            if (object.find("OBJ3D") != std::string::npos) {
                ++renderables;
            }
        } else if (line.rfind("f ", 0) == 0 && object.find("Environment") != std::string::npos &&
                   object.find("OBJ3D") == std::string::npos) {
            ++environmentTriangles;
        }
    }
    EXPECT_GE(renderables, 6);
    EXPECT_GE(environmentTriangles, 2);
    EXPECT_LE(environmentTriangles + 12 * renderables, 400);
}

// The generated stage as the program loads it, once for all its tests. Its MTL names the textures
// under meshes/, which the first test holds equal to the generated ones.
class LoadedStage : public SceneGeneratorTest {
  protected:
    static void SetUpTestSuite() {
        SceneGeneratorTest::SetUpTestSuite();
        s_pool = new KdPool(1000000);
        s_scene = new Scene();
        loadScene(*s_scene, *s_pool, directory());
    }
    static void TearDownTestSuite() {
        delete s_scene;
        delete s_pool;
        SceneGeneratorTest::TearDownTestSuite();
    }

    // The proxies of the renderable objects, each once, in file order.
    // The proxies of the stage's renderable objects; the models' joint proxies follow them.
    std::vector<const SceneObject*> proxies() const {
        std::set<const SceneObject*> joints;
        const std::function<void(const Joint&)> collect = [&](const Joint& joint) {
            joints.insert(joint.proxy);
            for (const Joint* child : joint.children) {
                collect(*child);
            }
        };
        for (const Skeleton* model : scene.models) {
            if (model != nullptr) {
                collect(*model->root);
            }
        }
        std::vector<const SceneObject*> result;
        for (const Primitive* primitive : scene.primitives) {
            if (primitive->type == Primitive::proxy && joints.count(primitive->owner) == 0 &&
                (result.empty() || result.back() != primitive->owner)) {
                result.push_back(primitive->owner);
            }
        }
        return result;
    }

    static const Material* materialOf(const SceneObject* proxy) {
        const Scene& local = *proxy->instance;
        return local.primitives.at(static_cast<std::size_t>(local.object->firstPrimitive))->material;
    }

    static Scene* s_scene;
    static KdPool* s_pool;
    const Scene& scene = *s_scene;
};

Scene* LoadedStage::s_scene = nullptr;
KdPool* LoadedStage::s_pool = nullptr;

TEST_F(LoadedStage, FirstLightIsTheAreaLightAboveTheStageAndTheRestArePointLights) {
    ASSERT_GE(scene.lightCount(), 2);
    ASSERT_LE(scene.lightCount(), Scene::lightCapacity);
    const AreaLight* area = dynamic_cast<const AreaLight*>(scene.lights[0]);
    ASSERT_NE(area, nullptr);
    EXPECT_GT(area->position.y, 16.0f);
    EXPECT_GT(area->edgeU.length(), 1.0f);
    EXPECT_GT(area->edgeV.length(), 1.0f);
    for (int i = 1; i < scene.lightCount(); ++i) {
        EXPECT_NE(dynamic_cast<const PointLight*>(scene.lights[static_cast<std::size_t>(i)]), nullptr) << i;
    }
}

// A white surface facing every light must stay short of white.
TEST_F(LoadedStage, LightsTogetherStayBelowWhite) {
    float sum[3] = {0.0f, 0.0f, 0.0f};
    for (const Light* light : scene.lights) {
        EXPECT_GT(light->color.r + light->color.g + light->color.b, 0.1f);
        sum[0] += light->color.r;
        sum[1] += light->color.g;
        sum[2] += light->color.b;
    }
    for (const float channel : sum) {
        EXPECT_LT(channel, 1.0f);
    }
}

TEST_F(LoadedStage, RenderableObjectsFitTheirBoxesAndTheSceneBox) {
    const std::vector<const SceneObject*> boxes = proxies();
    ASSERT_GE(boxes.size(), 6u);
    EXPECT_EQ(scene.boundsMin.x, -240.0f);
    EXPECT_EQ(scene.boundsSize.y, 480.0f);
    for (const SceneObject* proxy : boxes) {
        EXPECT_EQ(proxy->endPrimitive - proxy->firstPrimitive, 12);
        EXPECT_EQ(proxy->vertexCount(), 8);
        Vector3 min;
        Vector3 max;
        proxy->computeBounds(min, max);
        const Vector3 size = max - min;
        for (const float v : {min.x, min.y, min.z, max.x, max.y, max.z}) {
            EXPECT_GE(v, -240.0f);
            EXPECT_LE(v, 240.0f);
        }
        // After loading, the object's positions are relative to its box's lowest corner.
        const SceneObject& object = *proxy->instance->object;
        EXPECT_GT(object.endPrimitive - object.firstPrimitive, 0);
        EXPECT_LE(object.endPrimitive - object.firstPrimitive, 5000);
        for (const Vertex* vertex : object.restVertices) {
            const Vector3& p = vertex->position;
            EXPECT_TRUE(p.x > 0.0f && p.y > 0.0f && p.z > 0.0f && p.x < size.x && p.y < size.y &&
                        p.z < size.z)
                << "an object pokes out of the box at " << min.x << " " << min.y << " " << min.z;
            EXPECT_LE(std::max({p.x, p.y, p.z}), 240.0f);
        }
    }
}

// The robot stands at the origin and the other models orbit it at radii 6 to 8.
TEST_F(LoadedStage, ObjectsLeaveTheMiddleFreeForTheModels) {
    for (const SceneObject* proxy : proxies()) {
        if (proxy->instance->primitives.front()->type == Primitive::environment) {
            continue;
        }
        Vector3 min;
        Vector3 max;
        proxy->computeBounds(min, max);
        const bool overlapsMiddle = max.x > -9.0f && min.x < 9.0f && max.z > -9.0f && min.z < 9.0f;
        EXPECT_FALSE(overlapsMiddle) << "box at " << min.x << " " << min.z;
        EXPECT_LT(max.y, 9.0f);
    }
}

// Every object's box centre lies in the default camera's view: at (7, 13.05, -18.25), turned by -0.43
// about +y and looking down by 0.33, with an image plane from -4 to 4 at distance 5.
TEST_F(LoadedStage, ObjectsAreInTheDefaultView) {
    const double yaw = -0.43;
    const double pitch = 0.33;
    const double forward[3] = {std::sin(yaw) * std::cos(pitch), -std::sin(pitch),
                               std::cos(yaw) * std::cos(pitch)};
    const double right[3] = {std::cos(yaw), 0.0, -std::sin(yaw)};
    const double up[3] = {forward[1] * right[2] - forward[2] * right[1],
                          forward[2] * right[0] - forward[0] * right[2],
                          forward[0] * right[1] - forward[1] * right[0]};
    ASSERT_GT(up[1], 0.0);
    for (const SceneObject* proxy : proxies()) {
        if (proxy->instance->primitives.front()->type == Primitive::environment) {
            continue;
        }
        Vector3 min;
        Vector3 max;
        proxy->computeBounds(min, max);
        const double d[3] = {(min.x + max.x) / 2.0 - 7.0, (min.y + max.y) / 2.0 - 13.05,
                             (min.z + max.z) / 2.0 + 18.25};
        const double z = d[0] * forward[0] + d[1] * forward[1] + d[2] * forward[2];
        const double x = d[0] * right[0] + d[1] * right[1] + d[2] * right[2];
        const double y = d[0] * up[0] + d[1] * up[1] + d[2] * up[2];
        ASSERT_GT(z, 0.0);
        EXPECT_LT(std::fabs(x / z), 0.7) << "box at " << min.x << " " << min.z;
        EXPECT_LT(std::fabs(y / z), 0.7) << "box at " << min.x << " " << min.z;
    }
}

TEST_F(LoadedStage, SkyIsAnUnlitDomeAroundTheFloor) {
    const SceneObject* sky = nullptr;
    int skies = 0;
    for (const SceneObject* proxy : proxies()) {
        if (proxy->instance->primitives.front()->type == Primitive::environment) {
            sky = proxy;
            ++skies;
        }
    }
    ASSERT_EQ(skies, 1);
    EXPECT_NE(materialOf(sky)->colorTexture, nullptr);
    Vector3 skyMin;
    Vector3 skyMax;
    sky->computeBounds(skyMin, skyMax);
    EXPECT_LT(skyMin.y, 0.0f);
    EXPECT_GT(skyMax.y, 40.0f);

    int floorTriangles = 0;
    for (const Primitive* primitive : scene.primitives) {
        if (primitive->type != Primitive::lit) {
            continue;
        }
        ++floorTriangles;
        const Material* floor = primitive->material;
        EXPECT_NE(floor->colorTexture, nullptr);
        EXPECT_NE(floor->reflectivityTexture, nullptr);
        EXPECT_GT(scalar(floor->reflectivity), 0.0f);
        const Triangle* triangle = static_cast<const Triangle*>(primitive);
        for (const Vertex* vertex : {triangle->a, triangle->b, triangle->c}) {
            EXPECT_EQ(vertex->position.y, 0.0f);
            EXPECT_GT(vertex->position.x, skyMin.x);
            EXPECT_LT(vertex->position.x, skyMax.x);
            EXPECT_GT(vertex->position.z, skyMin.z);
            EXPECT_LT(vertex->position.z, skyMax.z);
            EXPECT_GT(vertex->normal.y, 0.99f);
            // Texture coordinates stay positive: lookups mirror negative ones.
            EXPECT_GE(vertex->u, 0.0f);
            EXPECT_GE(vertex->v, 0.0f);
        }
    }
    EXPECT_GE(floorTriangles, 2);
}

TEST_F(LoadedStage, ObjectsShowEveryMaterialSlot) {
    bool glass = false;
    bool mirror = false;
    bool blurred = false;
    bool textured = false;
    bool highlight = false;
    for (const SceneObject* proxy : proxies()) {
        if (proxy->instance->primitives.front()->type == Primitive::environment) {
            continue;
        }
        const Material& m = *materialOf(proxy);
        glass = glass || (scalar(m.transparency) > 0.5f && scalar(m.refractionIndex) == 1.5f);
        mirror = mirror || scalar(m.reflectivity) >= 0.9f;
        blurred = blurred || (scalar(m.reflectionBlur) > 0.0f && scalar(m.reflectivity) > 0.3f);
        textured = textured || (m.colorTexture != nullptr && scalar(m.diffuse) > 0.5f);
        highlight = highlight || (scalar(m.specular) >= 0.95f && scalar(m.diffuse) > 0.5f);
    }
    EXPECT_TRUE(glass);
    EXPECT_TRUE(mirror);
    EXPECT_TRUE(blurred);
    EXPECT_TRUE(textured);
    EXPECT_TRUE(highlight);
}

TEST_F(SceneGeneratorTest, FloorTexturesHaveTilesThatMirrorAndTilesThatDoNot) {
    const Texture color(directory() + "floor.tga");
    const TextureBW reflectivity(directory() + "floorrefl.tga");
    EXPECT_EQ(color.width, reflectivity.width);
    EXPECT_EQ(color.height, reflectivity.height);
    int mirroring = 0;
    int matt = 0;
    for (const float value : reflectivity.pixels) {
        mirroring += value > 0.9f ? 1 : 0;
        matt += value < 0.1f ? 1 : 0;
    }
    EXPECT_GT(mirroring, static_cast<int>(reflectivity.pixels.size()) / 4);
    EXPECT_GT(matt, static_cast<int>(reflectivity.pixels.size()) / 4);
    for (const Color& c : color.pixels) {
        EXPECT_LT(std::max({c.r, c.g, c.b}), 0.95f);
        EXPECT_GT(c.r + c.g + c.b, 0.3f);
    }
}

TEST_F(SceneGeneratorTest, SkyRunsFromAPaleHorizonToABlueZenith) {
    const Texture sky(directory() + "sky.tga");
    ASSERT_GT(sky.height, 2);
    const Color horizon = sky.pixels.front();
    const Color zenith = sky.pixels.back();
    EXPECT_GT(horizon.r + horizon.g + horizon.b, zenith.r + zenith.g + zenith.b);
    EXPECT_GT(zenith.b, zenith.r + 0.2f);
    const Texture crate(directory() + "crate.tga");
    EXPECT_GT(crate.width, 0);
}

TEST(TgaWriter, StoresRowsInOrderAndColoursAsBlueGreenRed) {
    Scenegen::TgaImage image(2, 2, 3);
    image.setColor(0, 0, 1.0, 0.0, 0.0);
    image.setColor(1, 0, 0.0, 1.0, 0.0);
    image.setColor(0, 1, 0.0, 0.0, 1.0);
    image.setColor(1, 1, 1.0, 1.0, 1.0);
    const std::string bytes = Scenegen::tgaBytes(image);
    ASSERT_EQ(bytes.size(), 18u + 12u);
    EXPECT_EQ(bytes[2], 2);
    EXPECT_EQ(bytes[12], 2);
    EXPECT_EQ(bytes[14], 2);
    EXPECT_EQ(bytes[16], 24);

    const fs::path path = fs::temp_directory_path() / ("lumenbox-tga-" + std::to_string(::getpid()) + ".tga");
    std::ofstream(path, std::ios::binary) << bytes;
    const Texture texture(path.string());
    fs::remove(path);
    const float full = 255.0f / 256.0f;
    EXPECT_EQ(texture.pixels[0].r, full);
    EXPECT_EQ(texture.pixels[0].b, 0.0f);
    EXPECT_EQ(texture.pixels[1].g, full);
    EXPECT_EQ(texture.pixels[2].b, full);
    EXPECT_EQ(texture.pixels[2].r, 0.0f);
}

TEST(ObjWriter, IndicesCountThroughTheWholeFile) {
    Scenegen::Mesh triangle;
    triangle.addVertex({0, 0, 0}, {0, 1, 0}, {0, 0});
    triangle.addVertex({1, 0, 0}, {0, 1, 0}, {1, 0});
    triangle.addVertex({0, 0, 1}, {0, 1, 0}, {0, 1});
    triangle.addTriangle(0, 2, 1);
    Scenegen::ObjWriter obj({"test"}, "test.mtl");
    obj.addPoints("lampPointLight", "lamp", {{1, 2, 3}});
    obj.addMesh("floorEnvironment", "floor", triangle);
    obj.addPositionsOnly("flatBBox", "", triangle);
    EXPECT_EQ(obj.text(), "# test\n"
                          "mtllib test.mtl\n"
                          "# object\ng lampPointLight\nv 1 2 3\nusemtl lamp\n"
                          "# object\ng floorEnvironment\nv 0 0 0\nv 1 0 0\nv 0 0 1\n"
                          "vt 0 0 0\nvt 1 0 0\nvt 0 1 0\nvn 0 1 0\nvn 0 1 0\nvn 0 1 0\n"
                          "usemtl floor\nf 2/1/1 4/3/3 3/2/2\n"
                          "# object\ng flatBBox\nv 0 0 0\nv 1 0 0\nv 0 0 1\nf 5 7 6\n");
}

} // namespace
} // namespace Raytracer
