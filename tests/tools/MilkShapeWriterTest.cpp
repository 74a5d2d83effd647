#include "tools/scenegen/MilkShapeWriter.h"
#include "tools/scenegen/Models.h"

#include "math/ModelMath.h"
#include "math/Quaternion.h"
#include "math/Vector3.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace Raytracer::Scenegen {
namespace {

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Little-endian reads at a moving offset; running past the end fails the test instead of reading junk.
class ByteReader {
  public:
    explicit ByteReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    std::size_t offset = 0;

    uint32_t bytes(int count) {
        if (offset + count > bytes_.size()) {
            throw std::out_of_range("read past the end");
        }
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value |= static_cast<uint32_t>(bytes_[offset + i]) << (8 * i);
        }
        offset += count;
        return value;
    }
    uint8_t u8() { return static_cast<uint8_t>(bytes(1)); }
    uint16_t u16() { return static_cast<uint16_t>(bytes(2)); }
    int32_t i32() { return static_cast<int32_t>(bytes(4)); }
    float f32() {
        const uint32_t raw = bytes(4);
        float value;
        std::memcpy(&value, &raw, 4);
        return value;
    }
    std::string text(std::size_t length) {
        if (offset + length > bytes_.size()) {
            throw std::out_of_range("read past the end");
        }
        std::string value(bytes_.begin() + offset, bytes_.begin() + offset + length);
        offset += length;
        return value;
    }
    std::string fixedText(std::size_t width) {
        const std::string raw = text(width);
        return raw.substr(0, raw.find('\0'));
    }
    bool atEnd() const { return offset == bytes_.size(); }
    std::size_t size() const { return bytes_.size(); }

  private:
    const std::vector<uint8_t>& bytes_;
};

struct ReadKey {
    float time;
    float value[3];
};

struct ReadJoint {
    std::string name;
    std::string parent;
    float rotation[3];
    float position[3];
    std::vector<ReadKey> rotationKeys;
    std::vector<ReadKey> positionKeys;
};

struct ReadModel {
    int vertexCount = 0;
    int triangleCount = 0;
    int groupCount = 0;
    int materialCount = 0;
    float fps = 0.0f;
    std::vector<ReadJoint> joints;
    std::string comment;
    std::vector<int32_t> subVersions;
    float jointSize = 0.0f;
};

// Walks a file in the reading order of the loader and insists on the four trailing sections with the
// sub-versions this writer uses and on no bytes left over.
ReadModel readMilkShape(const std::vector<uint8_t>& bytes) {
    ByteReader in(bytes);
    ReadModel model;
    EXPECT_EQ(in.text(10), "MS3D000000");
    EXPECT_EQ(in.i32(), 4);
    model.vertexCount = in.u16();
    in.offset += msVertexSize * model.vertexCount;
    model.triangleCount = in.u16();
    in.offset += msTriangleSize * model.triangleCount;
    model.groupCount = in.u16();
    for (int g = 0; g < model.groupCount; ++g) {
        in.offset += 33;
        in.offset += 2u * in.u16() + 1;
    }
    model.materialCount = in.u16();
    in.offset += msMaterialSize * model.materialCount;
    model.fps = in.f32();
    in.f32();
    in.i32();
    const int jointCount = in.u16();
    for (int j = 0; j < jointCount; ++j) {
        ReadJoint joint;
        in.u8();
        joint.name = in.fixedText(32);
        joint.parent = in.fixedText(32);
        for (float& angle : joint.rotation) {
            angle = in.f32();
        }
        for (float& coordinate : joint.position) {
            coordinate = in.f32();
        }
        const int rotationCount = in.u16();
        const int positionCount = in.u16();
        for (int k = 0; k < rotationCount + positionCount; ++k) {
            ReadKey key{in.f32(), {in.f32(), in.f32(), in.f32()}};
            (k < rotationCount ? joint.rotationKeys : joint.positionKeys).push_back(key);
        }
        model.joints.push_back(joint);
    }
    model.subVersions.push_back(in.i32());
    for (int list = 0; list < 3; ++list) {
        const int count = in.i32();
        for (int c = 0; c < count; ++c) {
            in.i32();
            in.text(in.i32());
        }
    }
    if (in.i32() == 1) {
        model.comment = in.text(in.i32());
    }
    model.subVersions.push_back(in.i32());
    in.offset += 10u * model.vertexCount;
    model.subVersions.push_back(in.i32());
    in.offset += 12u * model.joints.size();
    model.subVersions.push_back(in.i32());
    model.jointSize = in.f32();
    in.i32();
    in.f32();
    EXPECT_TRUE(in.atEnd()) << in.offset << " of " << in.size();
    return model;
}

MsWriterModel smallModel() {
    MsWriterModel model;
    for (int i = 0; i < 3; ++i) {
        MsWriterVertex vertex;
        vertex.flags = static_cast<uint8_t>(i);
        vertex.position[0] = 1.0f + i;
        vertex.position[1] = -2.0f;
        vertex.position[2] = 0.5f;
        vertex.boneId = 1;
        vertex.referenceCount = 1;
        vertex.boneIds[0] = 1;
        vertex.weights[0] = 100;
        vertex.extra = 0xA1B2C3D4u;
        model.vertices.push_back(vertex);
    }
    MsWriterTriangle triangle;
    triangle.flags = 0x0102;
    triangle.vertexIndices[0] = 0;
    triangle.vertexIndices[1] = 1;
    triangle.vertexIndices[2] = 2;
    triangle.vertexNormals[2][2] = 1.0f;
    triangle.s[1] = 0.25f;
    triangle.t[2] = 0.75f;
    triangle.smoothingGroup = 3;
    triangle.groupIndex = 0;
    model.triangles.push_back(triangle);
    model.groups.push_back({0, "body", {0}, 0, "group note"});
    MsWriterMaterial material;
    material.name = "paint";
    material.transparency = 0.25f;
    material.texture = "paint.tga";
    material.comment = "shiny";
    model.materials.push_back(material);
    model.animationFps = 30.0f;
    model.currentTime = 2.0f;
    model.totalFrames = 60;
    MsWriterJoint root;
    root.name = "root";
    root.position[1] = 5.0f;
    root.rotationKeys = {{0.0f, {0.0f, 0.0f, 0.0f}}, {1.0f, {0.5f, 0.0f, 0.0f}}};
    root.positionKeys = {{0.0f, {0.0f, 0.0f, 0.0f}}, {1.0f, {0.0f, 2.0f, 0.0f}}};
    MsWriterJoint child;
    child.name = "child";
    child.parentName = "root";
    child.rotation[2] = 0.125f;
    child.rotationKeys = {{0.5f, {0.0f, 1.0f, 0.0f}}};
    child.positionKeys = {{0.5f, {3.0f, 0.0f, 0.0f}}};
    child.comment = "joint note";
    child.color[0] = 0.5f;
    model.joints = {root, child};
    model.comment = "model note";
    model.jointSize = 2.0f;
    model.transparencyMode = 1;
    model.alphaRef = 0.75f;
    return model;
}

TEST(MilkShapeWriterTest, HeaderAndCountsSitAtTheirOffsets) {
    const std::vector<uint8_t> bytes = writeMilkShape(smallModel());
    ByteReader in(bytes);
    EXPECT_EQ(in.text(10), "MS3D000000");
    EXPECT_EQ(in.i32(), 4);
    EXPECT_EQ(in.u16(), 3);
    EXPECT_EQ(in.u8(), 0);
    EXPECT_EQ(in.f32(), 1.0f);
    EXPECT_EQ(in.f32(), -2.0f);
    EXPECT_EQ(in.f32(), 0.5f);
    EXPECT_EQ(in.u8(), 1);
    EXPECT_EQ(in.u8(), 1);
    in.offset = msHeaderSize + 2 + 3 * msVertexSize;
    EXPECT_EQ(in.u16(), 1);
    EXPECT_EQ(in.u16(), 0x0102);
    EXPECT_EQ(in.u16(), 0);
    EXPECT_EQ(in.u16(), 1);
    EXPECT_EQ(in.u16(), 2);
    in.offset += 8 * 4;
    EXPECT_EQ(in.f32(), 1.0f);
    in.offset += 4;
    EXPECT_EQ(in.f32(), 0.25f);
    in.offset += 4 + 4 + 4;
    EXPECT_EQ(in.f32(), 0.75f);
    EXPECT_EQ(in.u8(), 3);
    EXPECT_EQ(in.u8(), 0);
    EXPECT_EQ(in.u16(), 1);
    EXPECT_EQ(in.u8(), 0);
    EXPECT_EQ(in.fixedText(32), "body");
    EXPECT_EQ(in.u16(), 1);
    EXPECT_EQ(in.u16(), 0);
    EXPECT_EQ(in.u8(), 0);
    EXPECT_EQ(in.u16(), 1);
    const std::size_t materialStart = in.offset;
    EXPECT_EQ(in.fixedText(32), "paint");
    in.offset = materialStart + 32 + 64 + 4;
    EXPECT_EQ(in.f32(), 0.25f);
    EXPECT_EQ(in.u8(), 0);
    EXPECT_EQ(in.fixedText(128), "paint.tga");
    EXPECT_EQ(in.fixedText(128), "");
    EXPECT_EQ(in.offset, materialStart + msMaterialSize);
    EXPECT_EQ(in.f32(), 30.0f);
    EXPECT_EQ(in.f32(), 2.0f);
    EXPECT_EQ(in.i32(), 60);
    EXPECT_EQ(in.u16(), 2);
}

TEST(MilkShapeWriterTest, JointRecordHoldsNamesTransformAndKeysInOrder) {
    const std::vector<uint8_t> bytes = writeMilkShape(smallModel());
    const std::size_t groupSize = 1 + 32 + 2 + 2 * 1 + 1;
    const std::size_t jointsStart = msHeaderSize + 2 + 3 * msVertexSize + 2 + msTriangleSize + 2 + groupSize +
                                    2 + msMaterialSize + 12 + 2;
    ByteReader in(bytes);
    in.offset = jointsStart;
    EXPECT_EQ(in.u8(), 0);
    const std::string rawName = in.text(32);
    EXPECT_EQ(rawName, std::string("root") + std::string(28, '\0'));
    EXPECT_EQ(in.fixedText(32), "");
    in.offset += 12;
    EXPECT_EQ(in.f32(), 0.0f);
    EXPECT_EQ(in.f32(), 5.0f);
    EXPECT_EQ(in.f32(), 0.0f);
    EXPECT_EQ(in.u16(), 2);
    EXPECT_EQ(in.u16(), 2);
    EXPECT_EQ(in.offset, jointsStart + msJointHeaderSize);
    in.offset += msKeyframeSize;
    EXPECT_EQ(in.f32(), 1.0f);
    EXPECT_EQ(in.f32(), 0.5f);
    in.offset += 8 + msKeyframeSize;
    EXPECT_EQ(in.f32(), 1.0f);
    EXPECT_EQ(in.f32(), 0.0f);
    EXPECT_EQ(in.f32(), 2.0f);
    in.offset += 4;
    const std::size_t childStart = jointsStart + msJointHeaderSize + 4 * msKeyframeSize;
    EXPECT_EQ(in.offset, childStart);
    in.u8();
    EXPECT_EQ(in.fixedText(32), "child");
    EXPECT_EQ(in.fixedText(32), "root");
    in.offset += 8;
    EXPECT_EQ(in.f32(), 0.125f);
}

TEST(MilkShapeWriterTest, TrailingSectionsCarryTheirSubVersionsAndTheFileIsTheSumOfItsParts) {
    const MsWriterModel model = smallModel();
    const std::vector<uint8_t> bytes = writeMilkShape(model);
    const std::size_t groupSize = 1 + 32 + 2 + 2 * 1 + 1;
    const std::size_t jointsEnd = msHeaderSize + 2 + 3 * msVertexSize + 2 + msTriangleSize + 2 + groupSize +
                                  2 + msMaterialSize + 12 + 2 + 2 * msJointHeaderSize + 6 * msKeyframeSize;
    const std::size_t comments = 4 + (4 + 8 + 10) + (4 + 8 + 5) + (4 + 8 + 10) + (4 + 4 + 10);
    const std::size_t vertexExtras = 4 + 3 * 10;
    const std::size_t jointExtras = 4 + 2 * 12;
    const std::size_t modelExtras = 4 + 12;
    ASSERT_EQ(bytes.size(), jointsEnd + comments + vertexExtras + jointExtras + modelExtras);

    ByteReader in(bytes);
    in.offset = jointsEnd;
    EXPECT_EQ(in.i32(), 1);
    EXPECT_EQ(in.i32(), 1);
    EXPECT_EQ(in.i32(), 0);
    EXPECT_EQ(in.text(in.i32()), "group note");
    EXPECT_EQ(in.i32(), 1);
    EXPECT_EQ(in.i32(), 0);
    EXPECT_EQ(in.text(in.i32()), "shiny");
    EXPECT_EQ(in.i32(), 1);
    EXPECT_EQ(in.i32(), 1);
    EXPECT_EQ(in.text(in.i32()), "joint note");
    EXPECT_EQ(in.i32(), 1);
    EXPECT_EQ(in.text(in.i32()), "model note");
    EXPECT_EQ(in.i32(), 2);
    EXPECT_EQ(static_cast<int8_t>(in.u8()), 1);
    EXPECT_EQ(static_cast<int8_t>(in.u8()), -1);
    EXPECT_EQ(static_cast<int8_t>(in.u8()), -1);
    EXPECT_EQ(in.u8(), 100);
    in.offset += 2;
    EXPECT_EQ(static_cast<uint32_t>(in.i32()), 0xA1B2C3D4u);
    in.offset += 2 * 10;
    EXPECT_EQ(in.i32(), 1);
    in.offset += 12;
    EXPECT_EQ(in.f32(), 0.5f);
    in.offset += 8;
    EXPECT_EQ(in.i32(), 1);
    EXPECT_EQ(in.f32(), 2.0f);
    EXPECT_EQ(in.i32(), 1);
    EXPECT_EQ(in.f32(), 0.75f);
    EXPECT_TRUE(in.atEnd());

    const ReadModel read = readMilkShape(bytes);
    EXPECT_EQ(read.subVersions, (std::vector<int32_t>{1, 2, 1, 1}));
}

TEST(MilkShapeWriterTest, EmptyCommentsAreLeftOutAndOutputIsDeterministic) {
    MsWriterModel model = smallModel();
    model.groups[0].comment.clear();
    model.materials[0].comment.clear();
    model.joints[1].comment.clear();
    model.comment.clear();
    const std::vector<uint8_t> bytes = writeMilkShape(model);
    EXPECT_EQ(bytes, writeMilkShape(model));
    const std::size_t tail = (4 + 4 + 4 + 4 + 4) + (4 + 3 * 10) + (4 + 2 * 12) + (4 + 12);
    ByteReader in(bytes);
    in.offset = bytes.size() - tail;
    EXPECT_EQ(in.i32(), 1);
    EXPECT_EQ(in.i32(), 0);
    EXPECT_EQ(in.i32(), 0);
    EXPECT_EQ(in.i32(), 0);
    EXPECT_EQ(in.i32(), 0);
    EXPECT_EQ(in.i32(), 2);
}

TEST(MilkShapeWriterTest, RejectsNamesThatDoNotFitTheirFields) {
    MsWriterModel model = smallModel();
    model.joints[0].name = std::string(31, 'j');
    EXPECT_NO_THROW(writeMilkShape(model));
    model.joints[0].name = std::string(32, 'j');
    EXPECT_THROW(writeMilkShape(model), std::invalid_argument);
}

// One parsed object of a companion OBJ file, with its global (1-based) index ranges.
struct ObjObject {
    std::string group;
    std::string material;
    std::vector<Vector3> positions;
    std::vector<Vector3> normals;
    int firstPosition = 0;
    int firstNormal = 0;
    int firstTexCoord = 0;
    int texCoordCount = 0;
    std::vector<std::array<std::array<int, 3>, 3>> faces; // per corner: position, texcoord, normal
};

struct ObjFile {
    std::string header;
    std::vector<ObjObject> objects;
};

ObjFile readObj(const std::string& path) {
    std::ifstream file(path);
    ObjFile obj;
    ObjObject* current = nullptr;
    int positions = 0, normals = 0, texCoords = 0;
    std::string line;
    while (std::getline(file, line)) {
        if (line.find("# object") != std::string::npos) {
            obj.objects.emplace_back();
            current = &obj.objects.back();
            current->firstPosition = positions + 1;
            current->firstNormal = normals + 1;
            current->firstTexCoord = texCoords + 1;
            continue;
        }
        if (current == nullptr) {
            obj.header += line + "\n";
            continue;
        }
        std::istringstream tokens(line);
        std::string keyword;
        tokens >> keyword;
        if (keyword == "g") {
            tokens >> current->group;
        } else if (keyword == "usemtl") {
            tokens >> current->material;
        } else if (keyword == "v" || keyword == "vn") {
            Vector3 v;
            tokens >> v.x >> v.y >> v.z;
            (keyword == "v" ? current->positions : current->normals).push_back(v);
            ++(keyword == "v" ? positions : normals);
        } else if (keyword == "vt") {
            ++texCoords;
            ++current->texCoordCount;
        } else if (keyword == "f") {
            std::array<std::array<int, 3>, 3> face{};
            std::string corner;
            int count = 0;
            while (tokens >> corner) {
                if (count < 3) {
                    std::sscanf(corner.c_str(), "%d/%d/%d", &face[count][0], &face[count][1],
                                &face[count][2]);
                }
                ++count;
            }
            EXPECT_EQ(count, 3) << line;
            current->faces.push_back(face);
        } else if (!keyword.empty() && keyword[0] != '#') {
            ADD_FAILURE() << "unexpected line " << line;
        }
    }
    return obj;
}

std::set<std::string> readMaterialNames(const std::string& path) {
    std::ifstream file(path);
    std::set<std::string> names;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream tokens(line);
        std::string keyword, name;
        tokens >> keyword >> name;
        if (keyword == "newmtl") {
            names.insert(name);
        }
    }
    return names;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A joint as the loader builds it: keys turned into complete local transforms (bind included), time in
// frames, distances times 0.4.
struct BuiltJoint {
    std::string name;
    int parent = -1;
    std::vector<float> times;
    std::vector<Vector3> translations;
    std::vector<Quaternion> rotations;
};

std::vector<BuiltJoint> buildJoints(const ReadModel& model) {
    const float scale = static_cast<float>(modelFileScale);
    std::vector<BuiltJoint> built;
    for (const ReadJoint& joint : model.joints) {
        BuiltJoint result;
        result.name = joint.name;
        for (std::size_t p = 0; p < built.size(); ++p) {
            if (built[p].name == joint.parent) {
                result.parent = static_cast<int>(p);
            }
        }
        float q[4];
        Matrix3x4 bind;
        eulerToQuaternion(joint.rotation, q);
        quaternionToMatrix(q, bind);
        for (int i = 0; i < 3; ++i) {
            bind[i][3] = joint.position[i] * scale;
        }
        for (std::size_t k = 0; k < joint.positionKeys.size(); ++k) {
            Matrix3x4 key, local;
            eulerToQuaternion(joint.rotationKeys[k].value, q);
            quaternionToMatrix(q, key);
            for (int i = 0; i < 3; ++i) {
                key[i][3] = joint.positionKeys[k].value[i] * scale;
            }
            concatTransforms(bind, key, local);
            matrixToQuaternion(q, local);
            result.times.push_back(joint.positionKeys[k].time * model.fps);
            result.translations.push_back({local[0][3], local[1][3], local[2][3]});
            result.rotations.push_back({q[3], q[0], q[1], q[2]});
        }
        built.push_back(result);
    }
    return built;
}

struct WorldPose {
    std::vector<Vector3> positions;
    std::vector<Quaternion> rotations;
};

// Eased blend of translations and slerp of rotations between the keys around t, composed down the
// tree from the model's origin; parents come before their children in the file.
WorldPose sample(const std::vector<BuiltJoint>& joints, float t) {
    WorldPose pose;
    for (const BuiltJoint& joint : joints) {
        const std::size_t n = joint.times.size();
        Vector3 translation = t < joint.times[0] ? joint.translations[0] : joint.translations[n - 1];
        Quaternion rotation = t < joint.times[0] ? joint.rotations[0] : joint.rotations[n - 1];
        for (std::size_t k = 0; k + 1 < n; ++k) {
            if (joint.times[k] <= t && t <= joint.times[k + 1]) {
                const float s = (t - joint.times[k]) / (joint.times[k + 1] - joint.times[k]);
                const float eased = s * s * (3.0f - 2.0f * s);
                translation =
                    joint.translations[k] + (joint.translations[k + 1] - joint.translations[k]) * eased;
                rotation = slerp(joint.rotations[k], joint.rotations[k + 1], s);
                break;
            }
        }
        rotation = rotation.normalized();
        Vector3 parentPosition;
        Quaternion parentRotation;
        if (joint.parent >= 0) {
            parentPosition = pose.positions[joint.parent];
            parentRotation = pose.rotations[joint.parent];
        }
        pose.positions.push_back(parentRotation.rotate(translation) + parentPosition);
        pose.rotations.push_back(multiply(parentRotation, rotation).normalized());
    }
    return pose;
}

double poseDifference(const WorldPose& a, const WorldPose& b) {
    double worst = 0.0;
    for (std::size_t j = 0; j < a.positions.size(); ++j) {
        worst = std::max(worst, static_cast<double>((a.positions[j] - b.positions[j]).length()));
        const Quaternion& p = a.rotations[j];
        const Quaternion& q = b.rotations[j];
        const double dot = std::abs(p.w * q.w + p.x * q.x + p.y * q.y + p.z * q.z);
        worst = std::max(worst, 1.0 - std::min(dot, 1.0));
    }
    return worst;
}

class GeneratedModelsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        directory_ = (std::filesystem::temp_directory_path() /
                      ("lumenbox-models-" + std::to_string(static_cast<long>(getpid()))))
                         .string();
        std::filesystem::create_directories(directory_);
        writeModels(directory_);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(directory_); }

    static std::string path(const std::string& name) { return directory_ + "/" + name; }
    static ReadModel model(const std::string& name) { return readMilkShape(readBytes(path(name + ".ms3d"))); }

    static inline std::string directory_;
    static inline const std::vector<std::string> names = {"cylon", "ball", "star", "2ball"};
};

TEST_F(GeneratedModelsTest, WritesEveryFileTheLoaderOpens) {
    for (const std::string& name : names) {
        EXPECT_TRUE(std::filesystem::exists(path(name + ".ms3d"))) << name;
        EXPECT_TRUE(std::filesystem::exists(path(name + ".obj"))) << name;
    }
    EXPECT_TRUE(std::filesystem::exists(path("models.mtl")));
}

TEST_F(GeneratedModelsTest, JointHierarchiesAreRootedAndNamedForTheCompanionLookup) {
    std::size_t allJoints = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const ReadModel read = model(name);
        EXPECT_EQ(read.subVersions, (std::vector<int32_t>{1, 2, 1, 1}));
        ASSERT_FALSE(read.joints.empty());
        EXPECT_EQ(read.joints[0].parent, "");
        allJoints += read.joints.size();
        std::set<std::string> seen;
        std::map<std::string, int> children;
        for (const ReadJoint& joint : read.joints) {
            EXPECT_LE(joint.name.size(), 19u) << joint.name;
            EXPECT_EQ(joint.name.find("OBJ3D"), std::string::npos) << joint.name;
            EXPECT_EQ(joint.name.find("BBox"), std::string::npos) << joint.name;
            if (&joint != &read.joints[0]) {
                EXPECT_TRUE(seen.count(joint.parent)) << joint.name << " before its parent " << joint.parent;
                ++children[joint.parent];
            }
            EXPECT_TRUE(seen.insert(joint.name).second) << "duplicate " << joint.name;
            for (const ReadJoint& other : read.joints) {
                if (&other != &joint) {
                    EXPECT_FALSE(endsWith(other.name, joint.name)) << joint.name << " ends " << other.name;
                }
            }
        }
        for (const auto& [parent, count] : children) {
            EXPECT_LE(count, 20) << parent;
        }
    }
    EXPECT_LE(allJoints * 12, 400u);
}

TEST_F(GeneratedModelsTest, EveryJointHasAsManyRotationAsPositionKeysInTimeOrder) {
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        for (const ReadJoint& joint : model(name).joints) {
            ASSERT_FALSE(joint.positionKeys.empty()) << joint.name;
            ASSERT_EQ(joint.rotationKeys.size(), joint.positionKeys.size()) << joint.name;
            EXPECT_LE(joint.positionKeys.size(), 500u) << joint.name;
            for (std::size_t k = 0; k < joint.positionKeys.size(); ++k) {
                EXPECT_EQ(joint.rotationKeys[k].time, joint.positionKeys[k].time) << joint.name;
                if (k > 0) {
                    EXPECT_GT(joint.positionKeys[k].time, joint.positionKeys[k - 1].time) << joint.name;
                }
            }
        }
    }
}

TEST_F(GeneratedModelsTest, CompanionObjHasAMeshAndABoxPerJointWithinTheJointBox) {
    const std::set<std::string> materials = readMaterialNames(path("models.mtl"));
    for (const std::string& materialName : materials) {
        for (const std::string& other : materials) {
            EXPECT_TRUE(other == materialName || !endsWith(other, materialName))
                << materialName << " " << other;
        }
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const ReadModel read = model(name);
        const ObjFile obj = readObj(path(name + ".obj"));
        EXPECT_NE(obj.header.find("mtllib models.mtl\n"), std::string::npos);
        EXPECT_EQ(obj.objects.size(), 2 * read.joints.size());
        const WorldPose bind = sample(buildJoints(read), 0.0f);
        for (std::size_t j = 0; j < read.joints.size(); ++j) {
            const std::string& joint = read.joints[j].name;
            const ObjObject* mesh = nullptr;
            const ObjObject* box = nullptr;
            for (const ObjObject& object : obj.objects) {
                if (mesh == nullptr && object.group.find(joint + "OBJ3D") != std::string::npos) {
                    mesh = &object;
                }
                if (box == nullptr && object.group.find(joint + "BBox") != std::string::npos) {
                    box = &object;
                }
            }
            ASSERT_NE(mesh, nullptr) << joint;
            ASSERT_NE(box, nullptr) << joint;
            EXPECT_EQ(mesh->group, joint + "OBJ3D");
            EXPECT_EQ(box->group, joint + "BBox");
            EXPECT_TRUE(materials.count(mesh->material)) << joint << " uses " << mesh->material;
            EXPECT_GT(mesh->faces.size(), 0u);
            EXPECT_LT(mesh->faces.size(), 3000u) << joint;
            EXPECT_EQ(box->positions.size(), 8u);
            EXPECT_EQ(box->faces.size(), 12u);

            Vector3 boxLow = box->positions[0], boxHigh = box->positions[0];
            for (const Vector3& p : box->positions) {
                for (int a = 0; a < 3; ++a) {
                    boxLow[a] = std::min(boxLow[a], p[a]);
                    boxHigh[a] = std::max(boxHigh[a], p[a]);
                }
            }
            for (const Vector3& p : mesh->positions) {
                for (int a = 0; a < 3; ++a) {
                    EXPECT_LT(std::abs(p[a] - bind.positions[j][a]), 15.0f) << joint;
                    EXPECT_GE(p[a], boxLow[a]) << joint;
                    EXPECT_LE(p[a], boxHigh[a]) << joint;
                }
            }
        }
    }
}

TEST_F(GeneratedModelsTest, ObjFacesUseGlobalIndicesStartingAtTheirObjectsFirstEntriesAndFaceOutwards) {
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        for (const ObjObject& object : readObj(path(name + ".obj")).objects) {
            int lowest[3] = {1 << 30, 1 << 30, 1 << 30};
            const int first[3] = {object.firstPosition, object.firstTexCoord, object.firstNormal};
            const int counts[3] = {static_cast<int>(object.positions.size()), object.texCoordCount,
                                   static_cast<int>(object.normals.size())};
            int outward = 0;
            for (const auto& face : object.faces) {
                for (const auto& corner : face) {
                    for (int kind = 0; kind < 3; ++kind) {
                        lowest[kind] = std::min(lowest[kind], corner[kind]);
                        EXPECT_GE(corner[kind], first[kind]) << object.group;
                        EXPECT_LT(corner[kind], first[kind] + counts[kind]) << object.group;
                    }
                }
                const Vector3 a = object.positions[face[0][0] - first[0]];
                const Vector3 b = object.positions[face[1][0] - first[0]];
                const Vector3 c = object.positions[face[2][0] - first[0]];
                Vector3 normals;
                for (const auto& corner : face) {
                    normals += object.normals[corner[2] - first[2]];
                }
                outward += dot(cross(b - a, c - a), normals) > 0.0f ? 1 : 0;
            }
            for (int kind = 0; kind < 3; ++kind) {
                EXPECT_EQ(lowest[kind], first[kind]) << object.group;
            }
            EXPECT_EQ(outward, static_cast<int>(object.faces.size())) << object.group;
        }
    }
}

TEST_F(GeneratedModelsTest, RobotStandsOnTheFloorAtTheOriginAboutNineAndAHalfUnitsTall) {
    const ObjFile obj = readObj(path("cylon.obj"));
    float low = 1e9f, high = -1e9f, reach = 0.0f;
    for (const ObjObject& object : obj.objects) {
        if (object.group.find("OBJ3D") == std::string::npos) {
            continue;
        }
        for (const Vector3& p : object.positions) {
            low = std::min(low, p.y);
            high = std::max(high, p.y);
            reach = std::max(reach, std::hypot(p.x, p.z));
        }
    }
    EXPECT_NEAR(low, 0.0f, 0.01f);
    EXPECT_GE(high, 9.0f);
    EXPECT_LE(high, 10.0f);
    EXPECT_LT(reach, 2.5f);
}

TEST_F(GeneratedModelsTest, RobotKeysCoverFrames0To228AndItsCyclesClose) {
    const ReadModel read = model("cylon");
    EXPECT_EQ(read.fps, static_cast<float>(cylonFramesPerSecond));
    const std::vector<BuiltJoint> joints = buildJoints(read);
    for (const BuiltJoint& joint : joints) {
        EXPECT_NEAR(joint.times.front(), 0.0f, 1e-4f) << joint.name;
        EXPECT_NEAR(joint.times.back(), cylonLastFrame, 1e-3f) << joint.name;
    }
    const auto at = [&joints](double frame) { return sample(joints, static_cast<float>(frame)); };
    const double rounding = 1e-3;
    EXPECT_LT(poseDifference(at(cylonWalkEnd), at(cylonWalkStart)), rounding);
    EXPECT_LT(poseDifference(at(cylonJumpEnd), at(cylonJumpStart)), rounding);
    EXPECT_LT(poseDifference(at(cylonCrouchEnd), at(cylonCrouchStart)), rounding);
    EXPECT_LT(poseDifference(at(cylonLastFrame), at(0.0)), rounding);
    EXPECT_LT(poseDifference(at(-59.8), at(0.0)), rounding);
    EXPECT_LT(poseDifference(at(0.0), sample(joints, -1.0f)), rounding);

    // The cycles really move: halfway through each the pose differs clearly from its ends.
    EXPECT_GT(poseDifference(at(8.0), at(cylonWalkStart)), 0.3);
    EXPECT_GT(poseDifference(at(35.0), at(cylonJumpStart)), 0.3);
    EXPECT_GT(poseDifference(at(66.0), at(cylonCrouchStart)), 0.3);
    EXPECT_GT(poseDifference(at(110.0), at(0.0)), 0.3);

    // Walking and crouching happen in place, and the jump leaves the floor.
    const int root = 0;
    for (double frame = cylonWalkStart; frame <= cylonCrouchEnd; frame += 0.4) {
        const Vector3 pelvis = at(frame).positions[root];
        EXPECT_NEAR(pelvis.x, 0.0f, 1e-4f) << frame;
        EXPECT_NEAR(pelvis.z, 0.0f, 1e-4f) << frame;
    }
    EXPECT_GT(at(35.0).positions[root].y, at(0.0).positions[root].y + 0.8f);
    EXPECT_LT(at(66.0).positions[root].y, at(0.0).positions[root].y - 1.0f);
}

TEST_F(GeneratedModelsTest, OrbitingModelsAreCentredOnTheirRootsAndRestAtTime0) {
    for (const std::string name : {"ball", "star", "2ball"}) {
        SCOPED_TRACE(name);
        const ReadModel read = model(name);
        for (float coordinate : read.joints[0].position) {
            EXPECT_EQ(coordinate, 0.0f);
        }
        Vector3 sum;
        float extent = 0.0f;
        int count = 0;
        for (const ObjObject& object : readObj(path(name + ".obj")).objects) {
            if (object.group.find("OBJ3D") == std::string::npos) {
                continue;
            }
            for (const Vector3& p : object.positions) {
                sum += p;
                extent = std::max(extent, p.length());
                ++count;
            }
        }
        ASSERT_GT(count, 0);
        EXPECT_LT((sum * (1.0f / count)).length(), 0.05f);
        EXPECT_LT(extent, 2.5f);
        const std::vector<BuiltJoint> joints = buildJoints(read);
        for (std::size_t j = 0; j < joints.size(); ++j) {
            const ReadJoint& joint = read.joints[j];
            for (int a = 0; a < 3; ++a) {
                EXPECT_NEAR(joints[j].translations[0][a],
                            joint.position[a] * static_cast<float>(modelFileScale), 1e-6f);
            }
            EXPECT_NEAR(joints[j].rotations[0].w, 1.0f, 1e-6f);
        }
    }
}

} // namespace
} // namespace Raytracer::Scenegen
