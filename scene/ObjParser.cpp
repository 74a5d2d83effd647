#include "scene/ObjParser.h"

#include "math/FatalError.h"
#include "scene/LineTokenizer.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace Raytracer {

namespace {

constexpr std::string_view separators = " \t\n\r";

// The parts of a corner token such as 1, 1/2, 1//3 or 1/2/3; absent parts are 0.
struct Corner {
    std::int32_t vertex = 0;
    std::int32_t texCoord = 0;
    std::int32_t normal = 0;
};

Corner parseCorner(std::string_view token) {
    Corner corner;
    corner.vertex = LineTokenizer::leadingInt(token);
    const std::size_t slash = token.find('/');
    if (token.find("//") != std::string_view::npos) {
        const std::size_t second = token.find('/', slash + 1);
        corner.normal = LineTokenizer::leadingInt(token.substr(second + 1));
    } else if (slash != std::string_view::npos) {
        corner.texCoord = LineTokenizer::leadingInt(token.substr(slash + 1));
        const std::size_t further = token.find('/', slash + 1);
        if (further != std::string_view::npos) {
            corner.normal = LineTokenizer::leadingInt(token.substr(further + 1));
        }
    }
    return corner;
}

// A missing token reads as a corner with every part absent.
Corner nextCorner(LineTokenizer& tokens) {
    const auto token = tokens.next(separators);
    return token ? parseCorner(*token) : Corner{};
}

// Positive indices stay counted from the start of the file; negative ones count back from the end of
// the section's own list of `count` records.
std::int32_t convertIndex(std::int32_t index, std::size_t count) {
    if (index == 0) {
        return -1;
    }
    if (index > 0) {
        return index - 1;
    }
    return index + static_cast<std::int32_t>(count);
}

ObjVector readVector(LineTokenizer& tokens) {
    double values[3] = {0.0, 0.0, 0.0};
    for (double& value : values) {
        const auto token = tokens.next(separators);
        value = token ? LineTokenizer::leadingDouble(*token) : 0.0;
    }
    return ObjVector{values[0], values[1], values[2]};
}

ObjFace readFace(LineTokenizer& tokens, const ObjModel& model) {
    ObjFace face;
    std::array<Corner, 4> corners{};
    int count = 0;
    for (auto token = tokens.next(separators); token && count < 4; token = tokens.next(separators)) {
        corners[count++] = parseCorner(*token);
    }
    face.cornerCount = count;
    for (int i = 0; i < 4; ++i) {
        face.vertex[i] = convertIndex(corners[i].vertex, model.vertices.size());
        face.texCoord[i] = convertIndex(corners[i].texCoord, model.texCoords.size());
        face.normal[i] = convertIndex(corners[i].normal, model.normals.size());
    }
    return face;
}

ObjSpherePlane readSpherePlane(LineTokenizer& tokens, const ObjModel& model) {
    std::array<Corner, 4> corners{};
    for (Corner& corner : corners) {
        corner = nextCorner(tokens);
    }
    ObjSpherePlane record;
    record.vertex = convertIndex(corners[0].vertex, model.vertices.size());
    record.normalA = convertIndex(corners[1].vertex, model.normals.size());
    record.normalB = convertIndex(corners[2].vertex, model.normals.size());
    for (int i = 0; i < 4; ++i) {
        record.texCoord[i] = convertIndex(corners[i].texCoord, model.texCoords.size());
    }
    return record;
}

} // namespace

ObjParser::ObjParser(std::FILE* file, std::string fileName, std::string materialDirectory,
                     std::FILE* messages)
    : m_reader(file, fileName), m_fileName(std::move(fileName)), m_mtlParser(std::move(materialDirectory)),
      m_messages(messages) {}

ObjModel ObjParser::readObjSection() {
    ObjModel model;
    std::int32_t currentMaterial = -1;
    int lineCounter = 0; // lines of this section, as the unknown-command message counts them
    std::string line;
    while (m_reader.readLine(line)) {
        if (line.find("# object") != std::string::npos) {
            m_lastSeparatorLine = m_reader.lineNumber();
            break;
        }
        LineTokenizer tokens(line);
        ++lineCounter;
        const auto token = tokens.next(separators);
        if (!token || token->front() == '#') {
            continue;
        }
        const std::string_view keyword = *token;
        if (keyword == "v") {
            model.vertices.push_back(readVector(tokens));
        } else if (keyword == "vn") {
            model.normals.push_back(readVector(tokens));
        } else if (keyword == "vt") {
            model.texCoords.push_back(readVector(tokens));
        } else if (keyword == "f") {
            ObjFace face = readFace(tokens, model);
            face.material = currentMaterial;
            model.faces.push_back(face);
        } else if (keyword == "sp" || keyword == "pl") {
            ObjSpherePlane record = readSpherePlane(tokens, model);
            record.material = currentMaterial;
            (keyword == "sp" ? model.spheres : model.planes).push_back(record);
        } else if (keyword == "p" || keyword == "s") {
            continue;
        } else if (keyword == "lp") {
            const Corner corner = nextCorner(tokens);
            model.pointLights.push_back(
                ObjPointLight{convertIndex(corner.vertex, model.vertices.size()), currentMaterial});
        } else if (keyword == "ld") {
            const Corner first = nextCorner(tokens);
            const Corner second = nextCorner(tokens);
            model.directionalLights.push_back(ObjDirLight{convertIndex(first.vertex, model.vertices.size()),
                                                          convertIndex(second.vertex, model.normals.size()),
                                                          currentMaterial});
        } else if (keyword == "lq") {
            ObjQuadLight light;
            for (std::int32_t& vertex : light.vertex) {
                vertex = convertIndex(nextCorner(tokens).vertex, model.vertices.size());
            }
            light.material = currentMaterial;
            model.quadLights.push_back(light);
        } else if (keyword == "c") {
            const Corner first = nextCorner(tokens);
            const Corner second = nextCorner(tokens);
            const Corner third = nextCorner(tokens);
            model.camera = ObjCamera{convertIndex(first.vertex, model.vertices.size()),
                                     convertIndex(second.vertex, model.vertices.size()),
                                     convertIndex(third.vertex, model.normals.size())};
        } else if (keyword == "usemtl") {
            // The text is cut before the name is looked up, as the lookup consumes the line end.
            model.materialText = withoutLineEnd(tokens.textFrom(7));
            const auto name = tokens.next(separators);
            currentMaterial = name ? findMaterialByPrefix(model.materials, *name) : -1;
        } else if (keyword == "mtllib") {
            // A line without a library name reads nothing.
            const auto name = tokens.next(separators);
            if (name) {
                auto library = m_libraries.find(*name);
                if (library == m_libraries.end()) {
                    library = m_libraries.emplace(*name, m_mtlParser.loadMtl(std::string(*name))).first;
                }
                model.materials = library->second;
            }
        } else if (keyword == "g") {
            model.groupName = std::string(tokens.textFrom(2));
        } else {
            const std::string keywordText(keyword);
            const std::string buffer(tokens.bufferAfterFirstToken());
            std::fprintf(m_messages, "Unknown command '%s' in scene code at line %i: \"%s\".\n",
                         keywordText.c_str(), lineCounter, buffer.c_str());
        }
    }
    return model;
}

ObjFile ObjParser::readObjFile() {
    ObjFile file;
    file.header = readObjSection();
    while (!atEnd()) {
        if (file.objects.size() == maxObjectSections) {
            throw FatalError(m_fileName + ", line " + std::to_string(m_lastSeparatorLine) + ": more than " +
                             std::to_string(maxObjectSections) + " object sections");
        }
        ObjModel object = readObjSection();
        object.materials = file.header.materials;
        file.objects.push_back(std::move(object));
    }
    return file;
}

} // namespace Raytracer
