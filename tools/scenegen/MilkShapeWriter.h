#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Raytracer::Scenegen {

// In-memory description of a MilkShape 3D model (format version 4), field for field as the file holds
// it. Texts of fixed width (names 32 bytes, texture paths 128 bytes) must leave room for the
// terminating zero; writeMilkShape rejects longer ones.

struct MsWriterVertex {
    uint8_t flags = 0;
    float position[3] = {0.0f, 0.0f, 0.0f};
    int8_t boneId = -1;
    uint8_t referenceCount = 0;
    int8_t boneIds[3] = {-1, -1, -1};
    uint8_t weights[3] = {0, 0, 0};
    uint32_t extra = 0;
};

struct MsWriterTriangle {
    uint16_t flags = 0;
    uint16_t vertexIndices[3] = {0, 0, 0};
    float vertexNormals[3][3] = {};
    float s[3] = {0.0f, 0.0f, 0.0f};
    float t[3] = {0.0f, 0.0f, 0.0f};
    uint8_t smoothingGroup = 1;
    uint8_t groupIndex = 0;
};

struct MsWriterGroup {
    uint8_t flags = 0;
    std::string name;
    std::vector<uint16_t> triangleIndices;
    int8_t materialIndex = -1;
    std::string comment;
};

struct MsWriterMaterial {
    std::string name;
    float ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    float specular[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float emissive[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float shininess = 0.0f;
    float transparency = 1.0f;
    uint8_t mode = 0;
    std::string texture;
    std::string alphamap;
    std::string comment;
};

// Time in seconds; value is Euler angles (radians about x, y, z) for a rotation key and a translation
// for a position key, both relative to the joint's bind transform.
struct MsWriterKeyframe {
    float time = 0.0f;
    float value[3] = {0.0f, 0.0f, 0.0f};
};

struct MsWriterJoint {
    uint8_t flags = 0;
    std::string name;
    std::string parentName;
    float rotation[3] = {0.0f, 0.0f, 0.0f};
    float position[3] = {0.0f, 0.0f, 0.0f};
    std::vector<MsWriterKeyframe> rotationKeys;
    std::vector<MsWriterKeyframe> positionKeys;
    std::string comment;
    float color[3] = {1.0f, 1.0f, 0.0f};
};

struct MsWriterModel {
    std::vector<MsWriterVertex> vertices;
    std::vector<MsWriterTriangle> triangles;
    std::vector<MsWriterGroup> groups;
    std::vector<MsWriterMaterial> materials;
    float animationFps = 24.0f;
    float currentTime = 0.0f;
    int32_t totalFrames = 30;
    std::vector<MsWriterJoint> joints;
    std::string comment;
    float jointSize = 1.0f;
    int32_t transparencyMode = 0;
    float alphaRef = 0.5f;
};

// Sizes of the fixed-width records, as the reader walks them.
constexpr std::size_t msHeaderSize = 14;
constexpr std::size_t msVertexSize = 15;
constexpr std::size_t msTriangleSize = 70;
constexpr std::size_t msMaterialSize = 361;
constexpr std::size_t msJointHeaderSize = 93;
constexpr std::size_t msKeyframeSize = 16;

// The whole file, packed little-endian: header, vertices, triangles, groups, materials, animation
// settings, joints with their keys, then the four trailing sections (comments sub-version 1, vertex
// extras sub-version 2, joint extras sub-version 1, model extras sub-version 1). Throws
// std::invalid_argument for counts above 65535, fixed-width texts that do not fit, or a group index
// beyond 255.
std::vector<uint8_t> writeMilkShape(const MsWriterModel& model);

// Writes writeMilkShape's bytes to path; throws std::runtime_error when the file cannot be written.
void writeMilkShapeFile(const std::string& path, const MsWriterModel& model);

} // namespace Raytracer::Scenegen
