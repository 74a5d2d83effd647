#include "tools/scenegen/MilkShapeWriter.h"

#include <bit>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace Raytracer::Scenegen {

namespace {

// Appends values byte by byte, least significant first, so the output does not depend on the host.
class ByteSink {
  public:
    explicit ByteSink(std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    void u8(uint8_t value) { bytes_.push_back(value); }
    void i8(int8_t value) { bytes_.push_back(static_cast<uint8_t>(value)); }
    void u16(uint16_t value) {
        bytes_.push_back(static_cast<uint8_t>(value & 0xFFu));
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
    }
    void u32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_.push_back(static_cast<uint8_t>((value >> shift) & 0xFFu));
        }
    }
    void i32(int32_t value) { u32(static_cast<uint32_t>(value)); }
    void f32(float value) { u32(std::bit_cast<uint32_t>(value)); }
    void floats(const float* values, int count) {
        for (int i = 0; i < count; ++i) {
            f32(values[i]);
        }
    }
    void fixedText(const std::string& text, std::size_t width, const char* what) {
        if (text.size() >= width) {
            throw std::invalid_argument(std::string("MilkShape ") + what + " too long: " + text);
        }
        for (std::size_t i = 0; i < width; ++i) {
            bytes_.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
        }
    }
    void sizedText(const std::string& text) {
        i32(static_cast<int32_t>(text.size()));
        for (char c : text) {
            bytes_.push_back(static_cast<uint8_t>(c));
        }
    }

  private:
    std::vector<uint8_t>& bytes_;
};

uint16_t count16(std::size_t count, const char* what) {
    if (count > 0xFFFFu) {
        throw std::invalid_argument(std::string("too many MilkShape ") + what);
    }
    return static_cast<uint16_t>(count);
}

// One comment list of the comments section: only non-empty comments are stored, with their index.
template <typename Records> void writeComments(ByteSink& out, const Records& records) {
    int32_t count = 0;
    for (const auto& record : records) {
        count += record.comment.empty() ? 0 : 1;
    }
    out.i32(count);
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!records[i].comment.empty()) {
            out.i32(static_cast<int32_t>(i));
            out.sizedText(records[i].comment);
        }
    }
}

} // namespace

std::vector<uint8_t> writeMilkShape(const MsWriterModel& model) {
    std::vector<uint8_t> bytes;
    ByteSink out(bytes);

    for (char c : std::string_view("MS3D000000")) {
        out.u8(static_cast<uint8_t>(c));
    }
    out.i32(4);

    out.u16(count16(model.vertices.size(), "vertices"));
    for (const MsWriterVertex& vertex : model.vertices) {
        out.u8(vertex.flags);
        out.floats(vertex.position, 3);
        out.i8(vertex.boneId);
        out.u8(vertex.referenceCount);
    }

    out.u16(count16(model.triangles.size(), "triangles"));
    for (const MsWriterTriangle& triangle : model.triangles) {
        out.u16(triangle.flags);
        for (uint16_t index : triangle.vertexIndices) {
            out.u16(index);
        }
        for (const auto& normal : triangle.vertexNormals) {
            out.floats(normal, 3);
        }
        out.floats(triangle.s, 3);
        out.floats(triangle.t, 3);
        out.u8(triangle.smoothingGroup);
        out.u8(triangle.groupIndex);
    }

    if (model.groups.size() > 256) {
        throw std::invalid_argument("too many MilkShape groups for an 8-bit group index");
    }
    out.u16(count16(model.groups.size(), "groups"));
    for (const MsWriterGroup& group : model.groups) {
        out.u8(group.flags);
        out.fixedText(group.name, 32, "group name");
        out.u16(count16(group.triangleIndices.size(), "group triangles"));
        for (uint16_t index : group.triangleIndices) {
            out.u16(index);
        }
        out.i8(group.materialIndex);
    }

    out.u16(count16(model.materials.size(), "materials"));
    for (const MsWriterMaterial& material : model.materials) {
        out.fixedText(material.name, 32, "material name");
        out.floats(material.ambient, 4);
        out.floats(material.diffuse, 4);
        out.floats(material.specular, 4);
        out.floats(material.emissive, 4);
        out.f32(material.shininess);
        out.f32(material.transparency);
        out.u8(material.mode);
        out.fixedText(material.texture, 128, "texture name");
        out.fixedText(material.alphamap, 128, "alpha map name");
    }

    out.f32(model.animationFps);
    out.f32(model.currentTime);
    out.i32(model.totalFrames);

    out.u16(count16(model.joints.size(), "joints"));
    for (const MsWriterJoint& joint : model.joints) {
        out.u8(joint.flags);
        out.fixedText(joint.name, 32, "joint name");
        out.fixedText(joint.parentName, 32, "parent name");
        out.floats(joint.rotation, 3);
        out.floats(joint.position, 3);
        out.u16(count16(joint.rotationKeys.size(), "rotation keys"));
        out.u16(count16(joint.positionKeys.size(), "position keys"));
        for (const MsWriterKeyframe& key : joint.rotationKeys) {
            out.f32(key.time);
            out.floats(key.value, 3);
        }
        for (const MsWriterKeyframe& key : joint.positionKeys) {
            out.f32(key.time);
            out.floats(key.value, 3);
        }
    }

    out.i32(1);
    writeComments(out, model.groups);
    writeComments(out, model.materials);
    writeComments(out, model.joints);
    out.i32(model.comment.empty() ? 0 : 1);
    if (!model.comment.empty()) {
        out.sizedText(model.comment);
    }

    out.i32(2);
    for (const MsWriterVertex& vertex : model.vertices) {
        for (int8_t boneId : vertex.boneIds) {
            out.i8(boneId);
        }
        for (uint8_t weight : vertex.weights) {
            out.u8(weight);
        }
        out.u32(vertex.extra);
    }

    out.i32(1);
    for (const MsWriterJoint& joint : model.joints) {
        out.floats(joint.color, 3);
    }

    out.i32(1);
    out.f32(model.jointSize);
    out.i32(model.transparencyMode);
    out.f32(model.alphaRef);
    return bytes;
}

void writeMilkShapeFile(const std::string& path, const MsWriterModel& model) {
    const std::vector<uint8_t> bytes = writeMilkShape(model);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace Raytracer::Scenegen
