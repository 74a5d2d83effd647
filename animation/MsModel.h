#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Raytracer {

// Records of a MilkShape 3D (version 4) file as read. Fixed-size name fields become strings cut at
// their first zero byte; a field without one keeps all its bytes.

struct MsVertex {
    std::uint8_t flags = 0;
    std::array<float, 3> position{};
    std::int8_t boneId = 0;
    std::uint8_t referenceCount = 0;
    std::array<std::int8_t, 3> boneIds{};
    std::array<std::uint8_t, 3> weights{};
    std::uint32_t extra = 0;
};

struct MsTriangle {
    std::uint16_t flags = 0;
    std::array<std::uint16_t, 3> vertexIndices{};
    std::array<std::array<float, 3>, 3> vertexNormals{}; // one normal per corner
    std::array<float, 3> s{};
    std::array<float, 3> t{};
    std::uint8_t smoothingGroup = 0;
    std::uint8_t groupIndex = 0;
};

struct MsGroup {
    std::uint8_t flags = 0;
    std::string name;
    std::vector<std::uint16_t> triangleIndices;
    std::int8_t materialIndex = -1;
    std::string comment;
};

struct MsMaterial {
    std::string name;
    std::array<float, 4> ambient{}; // RGBA; the alpha of all four colours is the transparency
    std::array<float, 4> diffuse{};
    std::array<float, 4> specular{};
    std::array<float, 4> emissive{};
    float shininess = 0.0f;
    float transparency = 0.0f;
    std::uint8_t mode = 0;
    std::string texture;
    std::string alphamap;
    std::string comment;
};

struct MsKeyframe {
    float time = 0.0f;            // in frames once loaded (the file stores seconds)
    std::array<float, 3> value{}; // Euler angles (radians, about x, y, z) or a translation
};

struct MsJoint {
    std::uint8_t flags = 0;
    std::string name;
    std::string parentName;          // empty for a root
    std::array<float, 3> rotation{}; // bind rotation, Euler angles in radians about x, y, z
    std::array<float, 3> position{}; // bind translation relative to the parent
    std::vector<MsKeyframe> rotationKeys;
    std::vector<MsKeyframe> positionKeys;
    std::string comment;
    std::array<float, 3> color{};
};

// The contents of one MilkShape 3D file. Only the joints and their keys are used to build a model;
// the rest is read because the sections after it depend on its length.
class msModel {
  public:
    msModel() { clear(); }
    virtual ~msModel() = default;

    // Empties everything and restores the defaults below.
    void clear();

    // Reads path. False, with the model cleared, when the file is not a version-4 MilkShape 3D file.
    // Throws FatalError (one line naming the file) when it cannot be opened or when it states more
    // than it holds: counts or lengths that run past its end.
    bool load(const std::string& path);
    // The same from the file's bytes already in memory; path only names the file in messages.
    bool load(const std::vector<std::uint8_t>& bytes, const std::string& path);

    std::vector<MsVertex> vertices;
    std::vector<MsTriangle> triangles;
    std::vector<MsGroup> groups;
    std::vector<MsMaterial> materials;
    float animationFps = 24.0f; // at least 1 once loaded
    float currentTime = 1.0f;
    std::int32_t totalFrames = 30;
    std::vector<MsJoint> joints;
    std::string comment;
    float jointSize = 1.0f;
    std::int32_t transparencyMode = 0;
    float alphaRef = 0.5f;
};

} // namespace Raytracer
