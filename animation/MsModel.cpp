#include "animation/MsModel.h"

#include "math/FatalError.h"
#include "math/FileBytes.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace Raytracer {

namespace {

constexpr char fileId[] = "MS3D000000";
constexpr std::size_t idSize = 10;
constexpr std::int32_t fileVersion = 4;
constexpr std::size_t nameSize = 32;
constexpr std::size_t pathSize = 128;
constexpr std::size_t vertexSize = 15;
constexpr std::size_t triangleSize = 70;
constexpr std::size_t groupHeaderSize = 1 + nameSize + 2;
constexpr std::size_t materialSize = 361;
constexpr std::size_t animationSize = 12;
constexpr std::size_t jointHeaderSize = 93;
constexpr std::size_t keySize = 16;

std::string plural(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Decodes the file from memory. Every stretch of bytes is checked against the end before it is read,
// so a count or length the file states but does not hold becomes a message, never an overrun. The
// decoding is byte-wise little-endian, whatever the host.
class Cursor {
  public:
    Cursor(const std::vector<std::uint8_t>& bytes, const std::string& path) : m_bytes(bytes), m_path(path) {}

    std::size_t remaining() const { return m_bytes.size() - m_position; }

    // Throws unless count more bytes remain. where and needs are only built for the message.
    template <class Where, class Needs> void requireBy(std::uint64_t count, Where where, Needs needs) const {
        if (count > remaining()) {
            throw FatalError(m_path + ": the file ends inside " + where() + " (" + needs() + " " +
                             std::to_string(count) + " bytes, " + std::to_string(remaining()) + " remain)");
        }
    }

    void require(std::uint64_t count, const std::string& where, const std::string& needs) const {
        requireBy(
            count, [&] { return where; }, [&] { return needs; });
    }

    std::uint8_t u8() { return *take(1); }
    std::int8_t i8() { return static_cast<std::int8_t>(u8()); }

    std::uint16_t u16() {
        const std::uint8_t* b = take(2);
        return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    }

    std::uint32_t u32() {
        const std::uint8_t* b = take(4);
        return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
               (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    }

    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    float f32() {
        const std::uint32_t bits = u32();
        float value = 0.0f;
        static_assert(sizeof value == sizeof bits);
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    std::array<float, 3> f32x3() { return {f32(), f32(), f32()}; }
    std::array<float, 4> f32x4() { return {f32(), f32(), f32(), f32()}; }

    // A fixed-width name: cut at its first zero byte, or all of its bytes when it has none.
    std::string name(std::size_t width) {
        const char* b = reinterpret_cast<const char*>(take(width));
        const void* zero = std::memchr(b, 0, width);
        const std::size_t length =
            zero == nullptr ? width : static_cast<std::size_t>(static_cast<const char*>(zero) - b);
        return std::string(b, length);
    }

    std::string text(std::size_t length) {
        const char* b = reinterpret_cast<const char*>(take(length));
        return std::string(b, length);
    }

    bool matches(const char* expected, std::size_t size) {
        return std::memcmp(take(size), expected, size) == 0;
    }

  private:
    // Every read passes here; require() before each record gives the precise message, this is the
    // last guard.
    const std::uint8_t* take(std::size_t count) {
        if (count > remaining()) {
            throw FatalError(m_path + ": the file ends early (" + std::to_string(count) +
                             " bytes needed at byte " + std::to_string(m_position) + ", " +
                             std::to_string(remaining()) + " remain)");
        }
        const std::uint8_t* start = m_bytes.data() + m_position;
        m_position += count;
        return start;
    }

    const std::vector<std::uint8_t>& m_bytes;
    const std::string& m_path;
    std::size_t m_position = 0;
};

std::string ordinal(std::size_t index, std::size_t count) {
    return std::to_string(index + 1) + " of " + std::to_string(count);
}

// A comment: int32 length, then that many bytes. Negative or oversized lengths are errors.
std::string readCommentText(Cursor& in, const std::string& path, const std::string& where) {
    in.require(4, where, "its length needs");
    const std::int32_t length = in.i32();
    if (length < 0) {
        throw FatalError(path + ": " + where + " has a negative length (" + std::to_string(length) + ")");
    }
    in.require(static_cast<std::uint64_t>(length), where, "its text needs");
    return in.text(static_cast<std::size_t>(length));
}

// Reads one list of comments (group, material or joint) and stores each in the element it names.
// A comment whose index names no element is read and dropped.
template <class Element>
void readComments(Cursor& in, const std::string& path, const char* kind, std::vector<Element>& elements) {
    in.require(4, std::string("the comments section"),
               std::string("the count of ") + kind + " comments needs");
    const std::int32_t count = in.i32();
    if (count < 0) {
        throw FatalError(path + ": the count of " + kind + " comments is negative (" + std::to_string(count) +
                         ")");
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string where = std::string(kind) + " comment " +
                                  ordinal(static_cast<std::size_t>(i), static_cast<std::size_t>(count));
        in.require(4, where, "its index needs");
        const std::int32_t index = in.i32();
        std::string text = readCommentText(in, path, where);
        if (index >= 0 && static_cast<std::size_t>(index) < elements.size()) {
            elements[static_cast<std::size_t>(index)].comment = std::move(text);
        }
    }
}

// Reads the sub-version that opens an optional section. False when the section is not there (no
// bytes left).
bool readSubVersion(Cursor& in, const char* section, std::int32_t& subVersion) {
    if (in.remaining() == 0) {
        return false;
    }
    in.require(4, std::string("the ") + section, std::string("its sub-version needs"));
    subVersion = in.i32();
    return true;
}

} // namespace

void msModel::clear() {
    vertices.clear();
    triangles.clear();
    groups.clear();
    materials.clear();
    animationFps = 24.0f;
    currentTime = 1.0f;
    totalFrames = 30;
    joints.clear();
    comment.clear();
    jointSize = 1.0f;
    transparencyMode = 0;
    alphaRef = 0.5f;
}

bool msModel::load(const std::string& path) {
    return load(readFileBytes(path), path);
}

bool msModel::load(const std::vector<std::uint8_t>& bytes, const std::string& path) {
    clear();
    Cursor in(bytes, path);
    try {
        in.require(idSize + 4, std::string("the header"), std::string("the id and version need"));
        if (!in.matches(fileId, idSize)) {
            return false;
        }
        if (in.i32() != fileVersion) {
            return false;
        }

        in.require(2, std::string("the header"), std::string("the vertex count needs"));
        // Every count is checked against the bytes left before anything is sized by it, so that a short
        // file cannot make the reader allocate for records it does not hold.
        const std::uint16_t vertexCount = in.u16();
        in.requireBy(
            vertexSize * vertexCount, [] { return std::string("the vertices"); },
            [&] { return plural(vertexCount, "vertex needs", "vertices need"); });
        vertices.resize(vertexCount);
        for (MsVertex& v : vertices) {
            v.flags = in.u8();
            v.position = in.f32x3();
            v.boneId = in.i8();
            v.referenceCount = in.u8();
        }

        in.require(2, std::string("the triangles"), std::string("the triangle count needs"));
        const std::uint16_t triangleCount = in.u16();
        in.requireBy(
            triangleSize * triangleCount, [] { return std::string("the triangles"); },
            [&] { return plural(triangleCount, "triangle needs", "triangles need"); });
        triangles.resize(triangleCount);
        for (MsTriangle& t : triangles) {
            t.flags = in.u16();
            for (std::uint16_t& index : t.vertexIndices) {
                index = in.u16();
            }
            for (std::array<float, 3>& normal : t.vertexNormals) {
                normal = in.f32x3();
            }
            t.s = in.f32x3();
            t.t = in.f32x3();
            t.smoothingGroup = in.u8();
            t.groupIndex = in.u8();
        }

        in.require(2, std::string("the groups"), std::string("the group count needs"));
        const std::uint16_t groupCount = in.u16();
        for (std::size_t g = 0; g < groupCount; ++g) {
            in.requireBy(
                groupHeaderSize, [&] { return "group " + ordinal(g, groupCount); },
                [] { return std::string("its flags, name and triangle count need"); });
            MsGroup& group = groups.emplace_back();
            group.flags = in.u8();
            group.name = in.name(nameSize);
            const std::uint16_t indexCount = in.u16();
            in.requireBy(
                2 * indexCount + 1,
                [&] { return "group " + ordinal(g, groupCount) + " \"" + group.name + "\""; },
                [&] {
                    return plural(indexCount, "triangle index", "triangle indices") +
                           " and its material index need";
                });
            group.triangleIndices.resize(indexCount);
            for (std::uint16_t& index : group.triangleIndices) {
                index = in.u16();
            }
            group.materialIndex = in.i8();
        }

        in.require(2, std::string("the materials"), std::string("the material count needs"));
        const std::uint16_t materialCount = in.u16();
        in.requireBy(
            materialSize * materialCount, [] { return std::string("the materials"); },
            [&] { return plural(materialCount, "material needs", "materials need"); });
        materials.resize(materialCount);
        for (MsMaterial& m : materials) {
            m.name = in.name(nameSize);
            m.ambient = in.f32x4();
            m.diffuse = in.f32x4();
            m.specular = in.f32x4();
            m.emissive = in.f32x4();
            m.shininess = in.f32();
            m.transparency = in.f32();
            m.mode = in.u8();
            m.texture = in.name(pathSize);
            m.alphamap = in.name(pathSize);
            // The alpha of every colour is the material's transparency, whatever the file stored.
            m.ambient[3] = m.transparency;
            m.diffuse[3] = m.transparency;
            m.specular[3] = m.transparency;
            m.emissive[3] = m.transparency;
        }

        in.require(animationSize, std::string("the animation settings"),
                   std::string("the frame rate, current time and frame count need"));
        animationFps = in.f32();
        // Written as "not at least 1" so that a NaN rate is floored too and key times stay finite.
        if (!(animationFps >= 1.0f)) {
            animationFps = 1.0f;
        }
        currentTime = in.f32();
        totalFrames = in.i32();

        in.require(2, std::string("the joints"), std::string("the joint count needs"));
        const std::uint16_t jointCount = in.u16();
        for (std::size_t j = 0; j < jointCount; ++j) {
            const auto where = [&] { return "joint " + ordinal(j, jointCount); };
            in.requireBy(jointHeaderSize, where, [] { return std::string("its header needs"); });
            MsJoint& joint = joints.emplace_back();
            joint.flags = in.u8();
            joint.name = in.name(nameSize);
            joint.parentName = in.name(nameSize);
            joint.rotation = in.f32x3();
            joint.position = in.f32x3();
            const std::uint16_t rotationKeyCount = in.u16();
            const std::uint16_t positionKeyCount = in.u16();
            const auto named = [&] { return where() + " \"" + joint.name + "\""; };
            in.requireBy(keySize * rotationKeyCount, named, [&] {
                return "its " + plural(rotationKeyCount, "rotation key needs", "rotation keys need");
            });
            joint.rotationKeys.resize(rotationKeyCount);
            for (MsKeyframe& key : joint.rotationKeys) {
                key.time = in.f32() * animationFps;
                key.value = in.f32x3();
            }
            in.requireBy(keySize * positionKeyCount, named, [&] {
                return "its " + plural(positionKeyCount, "position key needs", "position keys need");
            });
            joint.positionKeys.resize(positionKeyCount);
            for (MsKeyframe& key : joint.positionKeys) {
                key.time = in.f32() * animationFps;
                key.value = in.f32x3();
            }
        }

        // The optional sections follow, each entered only while bytes remain. A sub-version this
        // reader does not know says nothing about the section's length, so reading stops there:
        // whatever follows would be decoded from the wrong place.
        std::int32_t subVersion = 0;
        if (!readSubVersion(in, "comments section", subVersion) || subVersion != 1) {
            return true;
        }
        readComments(in, path, "group", groups);
        readComments(in, path, "material", materials);
        readComments(in, path, "joint", joints);
        in.require(4, std::string("the comments section"), std::string("the model comment flag needs"));
        if (in.i32() == 1) {
            comment = readCommentText(in, path, "the model comment");
        }

        if (!readSubVersion(in, "vertex extras", subVersion)) {
            return true;
        }
        if (subVersion != 1 && subVersion != 2) {
            return true;
        }
        const std::size_t extraSize = subVersion == 2 ? 10 : 6;
        in.requireBy(
            extraSize * vertices.size(), [] { return std::string("the vertex extras"); },
            [&] { return plural(vertices.size(), "vertex needs", "vertices need"); });
        for (MsVertex& v : vertices) {
            for (std::int8_t& id : v.boneIds) {
                id = in.i8();
            }
            for (std::uint8_t& weight : v.weights) {
                weight = in.u8();
            }
            if (subVersion == 2) {
                v.extra = in.u32();
            }
        }

        if (!readSubVersion(in, "joint extras", subVersion) || subVersion != 1) {
            return true;
        }
        in.requireBy(
            12 * joints.size(), [] { return std::string("the joint extras"); },
            [&] { return "the colours of " + plural(joints.size(), "joint need", "joints need"); });
        for (MsJoint& joint : joints) {
            joint.color = in.f32x3();
        }

        if (!readSubVersion(in, "model extras", subVersion) || subVersion != 1) {
            return true;
        }
        in.require(12, std::string("the model extras"),
                   std::string("the joint size, transparency mode and alpha reference need"));
        jointSize = in.f32();
        transparencyMode = in.i32();
        alphaRef = in.f32();
        return true;
    } catch (...) {
        // A file that fails half-way leaves nothing half-read behind.
        clear();
        throw;
    }
}

} // namespace Raytracer
