#include "scene/MeshBuilder.h"

#include "geometry/Triangle.h"
#include "math/FatalError.h"
#include "scene/Material.h"
#include "scene/MaterialBuilder.h"
#include "scene/MtlMaterial.h"
#include "scene/ObjModel.h"
#include "scene/ObjParser.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "shading/Map.h"
#include "shading/Texture.h"
#include "shading/TextureBW.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;
using Indices = std::array<std::int32_t, 4>;

const std::string source = "test.obj, object testOBJ3D";

// A directory of its own for each test, removed afterwards.
class TempDir {
  public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = fs::temp_directory_path() / ("lumenbox-mesh-" + std::to_string(getpid()) + "-" +
                                            info->test_suite_name() + "-" + info->name());
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path / name, std::ios::binary) << bytes;
        return (path / name).string();
    }

    fs::path path;
};

// The whole file as the loaders read it: the header and one model per "# object" section.
ObjFile parseObj(const TempDir& dir, const std::string& text) {
    const std::string path = dir.write("test.obj", text);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> messages(std::tmpfile(), &std::fclose);
    if (!file || !messages) {
        ADD_FAILURE() << "cannot open " << path;
        return ObjFile{};
    }
    ObjParser parser(file.get(), path, dir.path.string() + "/", messages.get());
    return parser.readObjFile();
}

// An uncompressed TGA: the 18-byte header with the size at offsets 12 and 14, then the pixel bytes.
std::string tga(int width, int height, int bitsPerPixel, const std::vector<std::uint8_t>& pixels) {
    std::string bytes(18, '\0');
    bytes[2] = bitsPerPixel == 8 ? 3 : 2;
    bytes[12] = static_cast<char>(width & 0xff);
    bytes[13] = static_cast<char>(width >> 8);
    bytes[14] = static_cast<char>(height & 0xff);
    bytes[15] = static_cast<char>(height >> 8);
    bytes[16] = static_cast<char>(bitsPerPixel);
    bytes.append(pixels.begin(), pixels.end());
    return bytes;
}

ObjFace face(Indices vertex, Indices normal, Indices texCoord, std::int32_t cornerCount) {
    ObjFace f;
    f.vertex = vertex;
    f.normal = normal;
    f.texCoord = texCoord;
    f.cornerCount = cornerCount;
    return f;
}

constexpr Indices none{-1, -1, -1, -1};

SceneObject& build(Scene& target, const ObjModel& model, Scene* proxyFor = nullptr) {
    SceneObject* object = target.create<SceneObject>();
    object->ownerScene = &target;
    buildObject(model, *object, proxyFor, target, source);
    return *object;
}

const Triangle& triangleAt(const Scene& scene, int index) {
    const auto* triangle =
        dynamic_cast<const Triangle*>(scene.primitives.at(static_cast<std::size_t>(index)));
    if (triangle == nullptr) {
        throw std::runtime_error("primitive " + std::to_string(index) + " is not a triangle");
    }
    return *triangle;
}

float scalar(const Map* map) {
    float out[3] = {-1.0f, -1.0f, -1.0f};
    map->lookup(out, 0.5f, 0.5f, 0.0f);
    return out[0];
}

std::array<float, 3> colour(const Map* map) {
    float out[3] = {-1.0f, -1.0f, -1.0f};
    map->lookup(out, 0.5f, 0.5f, 0.0f);
    return {out[0], out[1], out[2]};
}

void expectNear(const Vector3& expected, const Vector3& actual, float tolerance, const std::string& what) {
    EXPECT_NEAR(expected.x, actual.x, tolerance) << what;
    EXPECT_NEAR(expected.y, actual.y, tolerance) << what;
    EXPECT_NEAR(expected.z, actual.z, tolerance) << what;
}

void expectSame(const Vertex& a, const Vertex& b, const std::string& what) {
    EXPECT_EQ(a.position, b.position) << what;
    EXPECT_EQ(a.normal, b.normal) << what;
    EXPECT_EQ(a.u, b.u) << what;
    EXPECT_EQ(a.v, b.v) << what;
}

// Triangle (0,0,0) (2,0,0) (0,2,0) with normal (0,0,1) at every corner.
ObjModel flatTriangle() {
    ObjModel model;
    model.vertices = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}};
    model.normals = {{0, 0, 1}};
    model.faces = {face({0, 1, 2, -1}, {0, 0, 0, -1}, none, 3)};
    return model;
}

TEST(MeshBuilder, SharedVertexKeepsTheLastFacesNormalAndTextureInBothCopies) {
    TempDir dir;
    const ObjFile file = parseObj(dir, "# object\n"
                                       "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\n"
                                       "vn 1 0 0\nvn 0 1 0\nvn 0 0 1\nvn 0.6 0.8 0\n"
                                       "vt 0.1 0.2\nvt 0.3 0.4\nvt 0.5 0.6\nvt 0.7 0.8\n"
                                       "f 1/1/1 2/2/1 3/3/1\n"
                                       "f 2/4/2 4/1/3 3/2/4\n");
    ASSERT_EQ(1u, file.objects.size());
    Scene target;
    const SceneObject& object = build(target, file.objects[0]);

    ASSERT_EQ(4, object.vertexCount());
    ASSERT_EQ(4u, object.restVertices.size());
    ASSERT_EQ(2, target.primitiveCount());
    EXPECT_EQ(0, object.firstPrimitive);
    EXPECT_EQ(2, object.endPrimitive);

    // Vertex 1 and 3 (file positions 2 and 3) are shared; the second face's values win.
    const Vertex& v0 = *object.vertices[0];
    const Vertex& v1 = *object.vertices[1];
    const Vertex& v2 = *object.vertices[2];
    const Vertex& v3 = *object.vertices[3];
    EXPECT_EQ(Vector3(1, 0, 0), v0.normal);
    EXPECT_FLOAT_EQ(0.1f, v0.u);
    EXPECT_FLOAT_EQ(0.2f, v0.v);
    EXPECT_EQ(Vector3(0, 1, 0), v1.normal);
    EXPECT_FLOAT_EQ(0.7f, v1.u);
    EXPECT_FLOAT_EQ(0.8f, v1.v);
    EXPECT_EQ(Vector3(0.6f, 0.8f, 0), v2.normal);
    EXPECT_FLOAT_EQ(0.3f, v2.u);
    EXPECT_FLOAT_EQ(0.4f, v2.v);
    EXPECT_EQ(Vector3(0, 0, 1), v3.normal);
    EXPECT_FLOAT_EQ(0.1f, v3.u);
    EXPECT_FLOAT_EQ(0.2f, v3.v);
    EXPECT_EQ(Vector3(1, 1, 0), v3.position);

    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(object.vertices[i], object.restVertices[i]) << "the copies are separate records";
        expectSame(*object.vertices[i], *object.restVertices[i], "vertex " + std::to_string(i));
    }

    // Triangles point at the current copies, corners in face order.
    const Triangle& first = triangleAt(target, 0);
    const Triangle& second = triangleAt(target, 1);
    EXPECT_EQ(object.vertices[0], first.a);
    EXPECT_EQ(object.vertices[1], first.b);
    EXPECT_EQ(object.vertices[2], first.c);
    EXPECT_EQ(object.vertices[1], second.a);
    EXPECT_EQ(object.vertices[3], second.b);
    EXPECT_EQ(object.vertices[2], second.c);
    EXPECT_EQ(Primitive::lit, first.type);
    EXPECT_NE(nullptr, first.material);
    EXPECT_EQ(nullptr, first.owner);
}

TEST(MeshBuilder, SecondObjectMapsFileIndicesToItsOwnLists) {
    TempDir dir;
    std::string text = "# object\n";
    for (int i = 0; i < 9; ++i) {
        text += "v " + std::to_string(i) + " 0 0\n";
    }
    text += "vn 1 0 0\nvn 0 1 0\nvn 0 0 1\nvt 0 0\nvt 1 0\nvt 0 1\n";
    text += "f 1/1/1 2/2/2 3/3/3\nf 4/1/1 5/2/2 6/3/3\nf 7/1/1 8/2/2 9/3/3\n";
    text += "# object\n";
    for (int i = 0; i < 8; ++i) {
        text += "v " + std::to_string(10 + i) + " " + std::to_string(20 + i) + " " + std::to_string(30 + i) +
                "\n";
    }
    text += "vn 0 0 -1\nvn 0 -1 0\nvt 0.25 0.5\nvt 0.75 1\n";
    // File positions 10 to 17 (one-based). The fourth corner of the quad points back into the first
    // object: only the first three corners count, for the triangle and for the index base alike.
    text += "f 10/4/4 11/5/5 12/4/4\n";
    text += "f 13/5/5 14/4/4 15/5/4 1/1/1\n";
    text += "f 16/4/5 17/5/4 10/5/5\n";
    const ObjFile file = parseObj(dir, text);
    ASSERT_EQ(2u, file.objects.size());

    Scene target;
    const SceneObject& firstObject = build(target, file.objects[0]);
    const SceneObject& object = build(target, file.objects[1]);
    EXPECT_EQ(0, firstObject.firstPrimitive);
    EXPECT_EQ(3, firstObject.endPrimitive);
    EXPECT_EQ(3, object.firstPrimitive);
    EXPECT_EQ(6, object.endPrimitive);
    ASSERT_EQ(6, target.primitiveCount());

    ASSERT_EQ(8, object.vertexCount());
    EXPECT_EQ(Vector3(10, 20, 30), object.vertices[0]->position);
    EXPECT_EQ(Vector3(17, 27, 37), object.restVertices[7]->position);

    const Triangle& t0 = triangleAt(target, 3);
    EXPECT_EQ(object.vertices[0], t0.a);
    EXPECT_EQ(object.vertices[1], t0.b);
    EXPECT_EQ(object.vertices[2], t0.c);
    const Triangle& quad = triangleAt(target, 4);
    EXPECT_EQ(object.vertices[3], quad.a);
    EXPECT_EQ(object.vertices[4], quad.b);
    EXPECT_EQ(object.vertices[5], quad.c);
    const Triangle& t2 = triangleAt(target, 5);
    EXPECT_EQ(object.vertices[6], t2.a);
    EXPECT_EQ(object.vertices[7], t2.b);
    EXPECT_EQ(object.vertices[0], t2.c);

    // Normals 4 and 5 and texture coordinates 4 and 5 are the object's own 0 and 1.
    EXPECT_EQ(Vector3(0, -1, 0), object.vertices[0]->normal); // last set by the third face
    EXPECT_FLOAT_EQ(0.75f, object.vertices[0]->u);
    EXPECT_FLOAT_EQ(1.0f, object.vertices[0]->v);
    EXPECT_EQ(Vector3(0, -1, 0), object.vertices[1]->normal);
    EXPECT_FLOAT_EQ(0.75f, object.vertices[1]->u);
    EXPECT_EQ(Vector3(0, 0, -1), object.vertices[5]->normal);
    EXPECT_FLOAT_EQ(0.75f, object.vertices[5]->u);
    EXPECT_EQ(Vector3(0, -1, 0), object.restVertices[6]->normal);
    EXPECT_FLOAT_EQ(0.25f, object.restVertices[6]->u);
    EXPECT_FLOAT_EQ(0.5f, object.restVertices[6]->v);
}

TEST(MeshBuilder, EachFaceGivesOneTriangleFromItsFirstThreeCorners) {
    ObjModel model;
    model.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    model.normals = {{0, 0, 1}, {0, 1, 0}};
    model.faces = {face({0, 1, 2, 3}, {0, 0, 0, 1}, none, 4), face({2, 3, 0, -1}, {0, 0, 0, -1}, none, 3)};
    Scene target;
    const SceneObject& object = build(target, model);

    ASSERT_EQ(2, target.primitiveCount());
    const Triangle& quad = triangleAt(target, 0);
    EXPECT_EQ(object.vertices[0], quad.a);
    EXPECT_EQ(object.vertices[1], quad.b);
    EXPECT_EQ(object.vertices[2], quad.c);
    const Triangle& second = triangleAt(target, 1);
    EXPECT_EQ(object.vertices[2], second.a);
    EXPECT_EQ(object.vertices[3], second.b);
    EXPECT_EQ(object.vertices[0], second.c);
    // The quad's fourth corner, with its normal (0, 1, 0), was not used; the second face set vertex 3.
    EXPECT_EQ(Vector3(0, 0, 1), object.vertices[3]->normal);
    EXPECT_EQ(Vector3(0, 0, 1), object.restVertices[3]->normal);
}

TEST(MeshBuilder, FaceIndexOutsideTheObjectThrowsOneLine) {
    const auto expectOneLineError = [](const ObjModel& model, const std::string& what) {
        Scene target;
        SceneObject object;
        object.ownerScene = &target;
        try {
            buildObject(model, object, nullptr, target, source);
            ADD_FAILURE() << what << ": no error";
        } catch (const FatalError& error) {
            const std::string message = error.what();
            EXPECT_EQ(std::string::npos, message.find('\n')) << what << ": " << message;
            EXPECT_NE(std::string::npos, message.find(source)) << what << ": " << message;
        }
    };

    ObjModel position = flatTriangle();
    position.faces = {face({0, 1, 3, -1}, {0, 0, 0, -1}, none, 3)};
    expectOneLineError(position, "position");

    ObjModel normal = flatTriangle();
    normal.faces = {face({0, 1, 2, -1}, {0, 0, 1, -1}, none, 3)};
    expectOneLineError(normal, "normal");

    ObjModel texCoord = flatTriangle();
    texCoord.texCoords = {{0, 0, 0}, {1, 0, 0}};
    texCoord.faces = {face({0, 1, 2, -1}, {0, 0, 0, -1}, {0, 1, 2, -1}, 3)};
    expectOneLineError(texCoord, "texture coordinate");
}

TEST(MeshBuilder, CornerWithoutNormalKeepsTheUnitFaceNormalInBothCopies) {
    ObjModel model = flatTriangle();
    model.normals = {{0, 1, 0}};
    model.texCoords = {{0.5, 0.25, 0}};
    // Corner 1 has neither a normal nor texture coordinates.
    model.faces = {face({0, 1, 2, -1}, {0, -1, 0, -1}, {0, -1, 0, -1}, 3)};
    Scene target;
    const SceneObject& object = build(target, model);

    // (c - a) x (b - a) = (0, 2, 0) x (2, 0, 0) = (0, 0, -4): unit (0, 0, -1).
    EXPECT_EQ(Vector3(0, 0, -1), object.vertices[1]->normal);
    EXPECT_EQ(Vector3(0, 0, -1), object.restVertices[1]->normal);
    EXPECT_EQ(0.0f, object.vertices[1]->u);
    EXPECT_EQ(0.0f, object.restVertices[1]->v);
    EXPECT_EQ(Vector3(0, 1, 0), object.vertices[0]->normal);
    EXPECT_EQ(Vector3(0, 1, 0), object.restVertices[2]->normal);
    EXPECT_FLOAT_EQ(0.5f, object.restVertices[2]->u);
    EXPECT_FLOAT_EQ(0.25f, object.restVertices[2]->v);
}

TEST(MeshBuilder, FaceWithFewerThanThreeCornersThrows) {
    TempDir dir;
    const ObjFile file = parseObj(dir, "# object\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2\n");
    ASSERT_EQ(1u, file.objects.size());
    ASSERT_EQ(2, file.objects[0].faces[1].cornerCount);
    Scene target;
    SceneObject object;
    object.ownerScene = &target;
    EXPECT_THROW(buildObject(file.objects[0], object, nullptr, target, source), FatalError);

    // Two corners with a third index left over in the slot: the count decides, not the slots.
    ObjModel twoCorners = flatTriangle();
    twoCorners.faces = {face({0, 1, 2, -1}, {0, 0, 0, -1}, none, 2)};
    Scene third;
    SceneObject twoCornerObject;
    EXPECT_THROW(buildObject(twoCorners, twoCornerObject, nullptr, third, source), FatalError);

    ObjModel empty = flatTriangle();
    empty.faces = {face(none, none, none, 0)};
    Scene other;
    SceneObject second;
    EXPECT_THROW(buildObject(empty, second, nullptr, other, source), FatalError);
}

TEST(MeshBuilder, ProxyTrianglesCarryNoMaterialAndBelongToTheProxy) {
    ObjModel model = flatTriangle();
    model.vertices.push_back({0, 0, 2});
    model.faces.push_back(face({0, 3, 1, -1}, {0, 0, 0, -1}, none, 3));
    // Even an environment name gives proxies when a proxy is asked for.
    model.groupName = "boxenvOBJ3D\n";
    model.materialText = "red";
    MtlMaterial red;
    red.name = "red";
    model.materials = {red};

    Scene target;
    Scene instance;
    const SceneObject& object = build(target, model, &instance);
    ASSERT_EQ(2, target.primitiveCount());
    for (int j = 0; j < 2; ++j) {
        const Triangle& triangle = triangleAt(target, j);
        EXPECT_EQ(Primitive::proxy, triangle.type);
        EXPECT_EQ(nullptr, triangle.material);
        EXPECT_EQ(&object, triangle.owner);
    }
}

TEST(MeshBuilder, EnvironmentNameGivesUnlitTrianglesWithAMaterial) {
    ObjModel model = flatTriangle();
    model.groupName = "skyenvOBJ3D\n";
    Scene target;
    build(target, model);
    const Triangle& environment = triangleAt(target, 0);
    EXPECT_EQ(Primitive::environment, environment.type);
    EXPECT_NE(nullptr, environment.material);
    EXPECT_EQ(nullptr, environment.owner);

    model.groupName = "tableOBJ3D\n";
    build(target, model);
    const Triangle& lit = triangleAt(target, 1);
    EXPECT_EQ(Primitive::lit, lit.type);
    EXPECT_NE(nullptr, lit.material);
    EXPECT_EQ(nullptr, lit.owner);
}

TEST(MeshBuilder, ObjectWithoutFacesGetsNoTriangles) {
    Scene target;
    build(target, flatTriangle());
    ObjModel model;
    model.vertices = {{1, 2, 3}, {4, 5, 6}};
    const SceneObject& object = build(target, model);
    EXPECT_EQ(1, target.primitiveCount());
    EXPECT_EQ(1, object.firstPrimitive);
    EXPECT_EQ(1, object.endPrimitive);
    ASSERT_EQ(2, object.vertexCount());
    EXPECT_EQ(Vector3(4, 5, 6), object.vertices[1]->position);
    EXPECT_EQ(Vector3(4, 5, 6), object.restVertices[1]->position);
    EXPECT_EQ(Vector3(0, 0, 0), object.vertices[1]->normal);
}

TEST(MeshBuilder, MaterialIsTheFirstWhoseNameEndsWithTheUsemtlText) {
    TempDir dir;
    dir.write("test.mtl", "newmtl wood2\nKd 0.9 0.1 0.1\n"
                          "newmtl darkwood\nKd 0.1 0.9 0.1\n"
                          "newmtl wood\nKd 0.1 0.1 0.9\n");
    const ObjFile file = parseObj(dir, "mtllib test.mtl\n# object\n"
                                       "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl wood\nf 1 2 3\n");
    ASSERT_EQ(1u, file.objects.size());
    ASSERT_EQ(3u, file.objects[0].materials.size());
    Scene target;
    build(target, file.objects[0]);
    const Material* material = triangleAt(target, 0).material;
    ASSERT_NE(nullptr, material);
    const std::array<float, 3> c = colour(material->color);
    EXPECT_FLOAT_EQ(0.1f, c[0]) << "darkwood, not wood2 and not the later exact match";
    EXPECT_FLOAT_EQ(0.9f, c[1]);
    EXPECT_FLOAT_EQ(0.1f, c[2]);
}

TEST(MeshBuilder, UnmatchedOrMissingMaterialKeepsTheDefault) {
    MtlMaterial wood2;
    wood2.name = "wood2";
    wood2.Kd = {0.9, 0.5, 0.1};
    wood2.Ns = 50;
    ObjModel model = flatTriangle();
    model.materials = {wood2};
    model.materialText = "wood";
    Scene target;
    build(target, model);
    model.materialText.reset();
    build(target, model);
    for (int j = 0; j < 2; ++j) {
        const Material* material = triangleAt(target, j).material;
        ASSERT_NE(nullptr, material);
        const std::array<float, 3> c = colour(material->color);
        EXPECT_FLOAT_EQ(0.2f, c[0]) << j;
        EXPECT_FLOAT_EQ(0.2f, c[1]) << j;
        EXPECT_FLOAT_EQ(0.2f, c[2]) << j;
        EXPECT_EQ(0.0f, scalar(material->reflectivity)) << j;
    }
}

TEST(MaterialBuilder, DefaultMaterial) {
    Scene owner;
    const Material* material = buildMaterial(owner, nullptr);
    ASSERT_NE(nullptr, material);
    ASSERT_NE(nullptr, material->color);
    ASSERT_NE(nullptr, material->reflectivity);
    ASSERT_NE(nullptr, material->transparency);
    ASSERT_NE(nullptr, material->diffuse);
    ASSERT_NE(nullptr, material->specular);
    ASSERT_NE(nullptr, material->reflectionBlur);
    ASSERT_NE(nullptr, material->refractionIndex);
    const std::array<float, 3> c = colour(material->color);
    EXPECT_FLOAT_EQ(0.2f, c[0]);
    EXPECT_FLOAT_EQ(0.2f, c[1]);
    EXPECT_FLOAT_EQ(0.2f, c[2]);
    EXPECT_EQ(0.0f, scalar(material->reflectivity));
    EXPECT_EQ(0.0f, scalar(material->transparency));
    EXPECT_FLOAT_EQ(0.2f, scalar(material->diffuse));
    EXPECT_FLOAT_EQ(0.8f, scalar(material->specular));
    EXPECT_EQ(0.0f, scalar(material->reflectionBlur));
    EXPECT_FLOAT_EQ(1.5f, scalar(material->refractionIndex));
    EXPECT_EQ(nullptr, material->colorTexture);
    EXPECT_EQ(nullptr, material->reflectivityTexture);
}

TEST(MaterialBuilder, SlotsFromTheRecord) {
    MtlMaterial record;
    record.name = "glass";
    record.Kd = {0.1, 0.5, 0.9};
    record.Ks = {0.7, 0.2, 0.3};
    record.Ka = {0.05, 0.6, 0.4};
    record.Ns = 30;
    record.d = 0.6;
    record.Ni = 1.33;
    Scene owner;
    const Material* material = buildMaterial(owner, &record);
    ASSERT_NE(nullptr, material);
    const std::array<float, 3> c = colour(material->color);
    EXPECT_FLOAT_EQ(0.1f, c[0]);
    EXPECT_FLOAT_EQ(0.5f, c[1]);
    EXPECT_FLOAT_EQ(0.9f, c[2]);
    EXPECT_FLOAT_EQ(0.3f, scalar(material->reflectivity));
    EXPECT_FLOAT_EQ(0.4f, scalar(material->transparency));
    EXPECT_FLOAT_EQ(0.3f, scalar(material->diffuse));
    EXPECT_FLOAT_EQ(0.7f, scalar(material->specular)) << "red of Ks only";
    EXPECT_FLOAT_EQ(0.05f, scalar(material->reflectionBlur)) << "red of Ka only";
    EXPECT_FLOAT_EQ(1.33f, scalar(material->refractionIndex));
    EXPECT_EQ(nullptr, material->colorTexture);
    EXPECT_EQ(nullptr, material->reflectivityTexture);
}

TEST(MaterialBuilder, DiffuseIsWhatReflectivityAndTransparencyLeave) {
    MtlMaterial mirror;
    mirror.Ns = 100;
    mirror.d = 1.0;
    MtlMaterial matte;
    matte.Ns = 0;
    matte.d = 1.0;
    MtlMaterial clear;
    clear.Ns = 25;
    clear.d = 0.5;
    Scene owner;
    EXPECT_NEAR(0.0f, scalar(buildMaterial(owner, &mirror)->diffuse), 1e-6f);
    EXPECT_FLOAT_EQ(1.0f, scalar(buildMaterial(owner, &mirror)->reflectivity));
    EXPECT_FLOAT_EQ(1.0f, scalar(buildMaterial(owner, &matte)->diffuse));
    EXPECT_EQ(0.0f, scalar(buildMaterial(owner, &matte)->transparency));
    EXPECT_FLOAT_EQ(0.25f, scalar(buildMaterial(owner, &clear)->diffuse));
    EXPECT_FLOAT_EQ(0.5f, scalar(buildMaterial(owner, &clear)->transparency));
}

TEST(MaterialBuilder, TexturesOnlyForNonEmptyNames) {
    TempDir dir;
    // Two pixels, blue then red, stored as BGR.
    const std::string colourPath = dir.write("colour.tga", tga(2, 1, 24, {255, 0, 0, 0, 0, 255}));
    const std::string greyPath = dir.write("grey.tga", tga(1, 3, 8, {10, 20, 30}));

    MtlMaterial coloured;
    coloured.mapKa = colourPath;
    Scene owner;
    const Material* withColour = buildMaterial(owner, &coloured);
    ASSERT_NE(nullptr, withColour->colorTexture);
    EXPECT_EQ(nullptr, withColour->reflectivityTexture);
    const auto* texture = dynamic_cast<const Texture*>(withColour->colorTexture);
    ASSERT_NE(nullptr, texture);
    EXPECT_EQ(2, texture->width);
    EXPECT_EQ(1, texture->height);
    ASSERT_EQ(2u, texture->pixels.size());
    EXPECT_GT(texture->pixels[0].b, 0.9f);
    EXPECT_EQ(0.0f, texture->pixels[0].r);
    EXPECT_GT(texture->pixels[1].r, 0.9f);

    MtlMaterial reflective;
    reflective.mapRefl = greyPath;
    const Material* withGrey = buildMaterial(owner, &reflective);
    EXPECT_EQ(nullptr, withGrey->colorTexture);
    ASSERT_NE(nullptr, withGrey->reflectivityTexture);
    const auto* grey = dynamic_cast<const TextureBW*>(withGrey->reflectivityTexture);
    ASSERT_NE(nullptr, grey);
    EXPECT_EQ(1, grey->width);
    EXPECT_EQ(3, grey->height);

    // A record naming no texture reads no file, so a missing file cannot matter.
    MtlMaterial plain;
    const Material* without = buildMaterial(owner, &plain);
    EXPECT_EQ(nullptr, without->colorTexture);
    EXPECT_EQ(nullptr, without->reflectivityTexture);

    MtlMaterial missing;
    missing.mapKa = (dir.path / "absent.tga").string();
    EXPECT_THROW(buildMaterial(owner, &missing), FatalError);
}

TEST(MaterialBuilder, ColourTextureFromAnMtlFileThroughTheBuilder) {
    TempDir dir;
    const std::string colourPath = dir.write("colour.tga", tga(1, 1, 24, {0, 0, 255}));
    dir.write("test.mtl", "newmtl plain\nKd 1 1 1\nnewmtl painted\nKd 1 1 1\nmap_Ka " + colourPath + "\n");
    const ObjFile file = parseObj(dir, "mtllib test.mtl\n# object\n"
                                       "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl painted\nf 1 2 3\n"
                                       "# object\n"
                                       "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl plain\nf 4 5 6\n");
    ASSERT_EQ(2u, file.objects.size());
    ASSERT_EQ(2u, file.objects[0].materials.size());
    ASSERT_EQ(colourPath, file.objects[0].materials[1].mapKa);
    Scene target;
    build(target, file.objects[0]);
    build(target, file.objects[1]);
    ASSERT_NE(nullptr, triangleAt(target, 0).material);
    EXPECT_NE(nullptr, dynamic_cast<const Texture*>(triangleAt(target, 0).material->colorTexture));
    ASSERT_NE(nullptr, triangleAt(target, 1).material);
    EXPECT_EQ(nullptr, triangleAt(target, 1).material->colorTexture);
}

TEST(SceneObject, AllocateVerticesGivesTwoSeparateZeroCopies) {
    SceneObject object;
    object.allocateVertices(3);
    ASSERT_EQ(3, object.vertexCount());
    ASSERT_EQ(3u, object.restVertices.size());
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(nullptr, object.vertices[i]);
        ASSERT_NE(nullptr, object.restVertices[i]);
        for (int j = 0; j < 3; ++j) {
            EXPECT_NE(object.vertices[i], object.restVertices[j]);
            if (j != i) {
                EXPECT_NE(object.vertices[i], object.vertices[j]);
                EXPECT_NE(object.restVertices[i], object.restVertices[j]);
            }
        }
        EXPECT_EQ(Vector3(0, 0, 0), object.vertices[i]->position);
        EXPECT_EQ(Vector3(0, 0, 0), object.restVertices[i]->normal);
        EXPECT_EQ(0.0f, object.vertices[i]->u);
        EXPECT_EQ(0.0f, object.restVertices[i]->v);
    }
    object.vertices[1]->position = Vector3(5, 6, 7);
    EXPECT_EQ(Vector3(0, 0, 0), object.restVertices[1]->position);
}

TEST(SceneObject, ComputeBoundsOfTheRestPositions) {
    SceneObject object;
    object.allocateVertices(3);
    object.restVertices[0]->position = Vector3(1, -2, 3);
    object.restVertices[1]->position = Vector3(-4, 5, 0.5f);
    object.restVertices[2]->position = Vector3(2, 2, -7);
    // The current copy is posed elsewhere; it does not count.
    object.vertices[0]->position = Vector3(-100, -100, -100);
    object.vertices[1]->position = Vector3(100, 100, 100);
    Vector3 min;
    Vector3 max;
    object.computeBounds(min, max);
    EXPECT_EQ(Vector3(-4, -2, -7), min);
    EXPECT_EQ(Vector3(2, 5, 3), max);
}

TEST(SceneObject, ComputeBoundsKeepsTheStartValuesBeyondTenThousand) {
    SceneObject object;
    object.allocateVertices(2);
    object.restVertices[0]->position = Vector3(20000, -20000, 5);
    object.restVertices[1]->position = Vector3(30000, -30000, 6);
    Vector3 min;
    Vector3 max;
    object.computeBounds(min, max);
    EXPECT_EQ(Vector3(10000, -30000, 5), min);
    EXPECT_EQ(Vector3(30000, -10000, 6), max);

    SceneObject empty;
    empty.allocateVertices(0);
    empty.computeBounds(min, max);
    EXPECT_EQ(Vector3(10000, 10000, 10000), min);
    EXPECT_EQ(Vector3(-10000, -10000, -10000), max);
}

TEST(SceneObject, ApplyTransformTurnsAndMovesTheRestCopy) {
    Scene target;
    build(target, flatTriangle()); // ahead in the list, so the object's triangle is entry 1
    SceneObject& object = build(target, flatTriangle());
    // A quarter turn about x takes y to z and z to -y.
    const float h = std::sqrt(0.5f);
    const Quaternion quarterX(h, h, 0, 0);
    const Vector3 p(1, 2, 3);
    object.vertices[1]->u = 0.75f;
    for (int repeat = 0; repeat < 2; ++repeat) {
        object.applyTransform(p, quarterX);
        expectNear(Vector3(1, 2, 3), object.vertices[0]->position, 1e-5f, "corner 0");
        expectNear(Vector3(3, 2, 3), object.vertices[1]->position, 1e-5f, "corner 1");
        expectNear(Vector3(1, 2, 5), object.vertices[2]->position, 1e-5f, "corner 2");
        expectNear(Vector3(0, -1, 0), object.vertices[2]->normal, 1e-6f, "normal");
        EXPECT_NEAR(1.0f, object.vertices[2]->normal.length(), 1e-6f);
    }
    // The rest copy and the texture coordinates stay as they were.
    EXPECT_EQ(Vector3(0, 2, 0), object.restVertices[2]->position);
    EXPECT_EQ(Vector3(0, 0, 1), object.restVertices[2]->normal);
    EXPECT_EQ(0.75f, object.vertices[1]->u);
    // The triangle's plane follows: (0,0,-1) turned is (0,1,0).
    expectNear(Vector3(0, 1, 0), normalize(triangleAt(target, 1).normal), 1e-6f, "plane");
    expectNear(Vector3(0, 0, -1), normalize(triangleAt(target, 0).normal), 1e-6f, "other object's plane");
}

TEST(SceneObject, RebaseExpressesTheObjectInTheLocalFrame) {
    Scene target;
    ObjModel model = flatTriangle();
    model.vertices[2] = {1, 1, 0};
    SceneObject& object = build(target, model);
    // A quarter turn about z takes x to y; its inverse takes y to x.
    const float h = std::sqrt(0.5f);
    object.rebase(Vector3(1, 0, 0), Quaternion(h, 0, 0, h));
    // (1, 1, 0) - (1, 0, 0) = (0, 1, 0), turned back to (1, 0, 0).
    expectNear(Vector3(1, 0, 0), object.restVertices[2]->position, 1e-6f, "rest");
    expectNear(Vector3(1, 0, 0), object.vertices[2]->position, 1e-6f, "current");
    // (0, 0, 0) - (1, 0, 0) = (-1, 0, 0), turned back to (0, 1, 0).
    expectNear(Vector3(0, 1, 0), object.restVertices[0]->position, 1e-6f, "rest");
    expectNear(Vector3(0, 0, 1), object.restVertices[0]->normal, 1e-6f, "normal about its own axis");
    for (int i = 0; i < 3; ++i) {
        expectSame(*object.vertices[i], *object.restVertices[i], "vertex " + std::to_string(i));
    }
}

TEST(SceneObject, RebaseThenApplyTransformRestoresEveryVertex) {
    ObjModel model;
    model.vertices = {{0, 0, 0}, {2, 0, 0}, {0, 3, 0}, {0.5, -1, 4}};
    model.normals = {{0, 0, 1}, {0.6, 0.8, 0}, {0, -0.6, 0.8}, {1, 0, 0}};
    model.faces = {face({0, 1, 2, -1}, {0, 1, 2, -1}, none, 3), face({0, 2, 3, -1}, {3, 2, 1, -1}, none, 3),
                   face({1, 3, 2, -1}, {1, 0, 2, -1}, none, 3)};
    Scene target;
    build(target, flatTriangle()); // something ahead in the list, so firstPrimitive is not 0
    SceneObject& object = build(target, model);
    ASSERT_EQ(1, object.firstPrimitive);

    std::vector<Vertex> start;
    for (const Vertex* vertex : object.vertices) {
        start.push_back(*vertex);
    }
    std::vector<Vector3> planes;
    for (int j = object.firstPrimitive; j < object.endPrimitive; ++j) {
        planes.push_back(normalize(triangleAt(target, j).normal));
    }

    // 50 degrees about (1, 2, 3).
    const float half = 25.0f * 3.14159265f / 180.0f;
    const float s = std::sin(half) / std::sqrt(14.0f);
    const Quaternion q(std::cos(half), s * 1.0f, s * 2.0f, s * 3.0f);
    const Vector3 p(1.5f, -2.0f, 3.0f);

    object.rebase(p, q);
    for (std::size_t i = 0; i < start.size(); ++i) {
        expectSame(*object.vertices[i], *object.restVertices[i], "after rebase " + std::to_string(i));
        EXPECT_GT((object.restVertices[i]->position - start[i].position).length(), 0.1f)
            << "the frame changed";
    }
    // The planes turn with the vertices.
    for (int j = object.firstPrimitive; j < object.endPrimitive; ++j) {
        expectNear(q.inverseRotate(planes[static_cast<std::size_t>(j - object.firstPrimitive)]),
                   normalize(triangleAt(target, j).normal), 1e-5f, "rebased plane " + std::to_string(j));
    }

    object.applyTransform(p, q);
    for (std::size_t i = 0; i < start.size(); ++i) {
        const std::string what = "vertex " + std::to_string(i);
        expectNear(start[i].position, object.vertices[i]->position, 1e-5f, what);
        expectNear(start[i].normal, object.vertices[i]->normal, 1e-5f, what);
        EXPECT_EQ(start[i].u, object.vertices[i]->u) << what;
    }
    for (int j = object.firstPrimitive; j < object.endPrimitive; ++j) {
        expectNear(planes[static_cast<std::size_t>(j - object.firstPrimitive)],
                   normalize(triangleAt(target, j).normal), 1e-5f, "plane " + std::to_string(j));
    }
}

} // namespace
} // namespace Raytracer
