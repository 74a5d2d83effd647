#include "scene/MtlParser.h"

#include "math/FatalError.h"
#include "scene/LineReader.h"
#include "scene/LineTokenizer.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace Raytracer {

namespace {

// A value line with fewer numbers than its keyword takes reads the missing ones as 0, as atof of an
// empty text would.
double nextValue(LineTokenizer& tokens) {
    const auto token = tokens.next(" \t");
    return token ? LineTokenizer::leadingDouble(*token) : 0.0;
}

void readTriple(LineTokenizer& tokens, std::array<double, 3>& values) {
    for (double& value : values) {
        value = nextValue(tokens);
    }
}

// Map file names end at a space, tab or carriage return; the newline that ends the line is dropped
// too, but never a character of the name itself.
std::string nextMapName(LineTokenizer& tokens) {
    const auto token = tokens.next(" \r\t");
    return token ? withoutLineEnd(*token) : std::string();
}

// A texture is named by its path from the working directory; when no file is there, by its path from
// the library's directory, and last by its file name alone in that directory, so that a scene directory
// copied elsewhere keeps its textures (the shipped libraries name them as meshes/floor.tga).
std::string texturePath(const std::string& name, const std::string& directory) {
    std::error_code unreadable;
    if (name.empty() || std::filesystem::exists(name, unreadable)) {
        return name;
    }
    if (name.front() != '/' && std::filesystem::exists(directory + name, unreadable)) {
        return directory + name;
    }
    const std::size_t slash = name.rfind('/');
    return directory + (slash == std::string::npos ? name : name.substr(slash + 1));
}

} // namespace

std::vector<MtlMaterial> MtlParser::loadMtl(const std::string& fileName) const {
    const std::string path = m_directory + fileName;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
    if (!file) {
        throw FatalError("Error reading file: " + path);
    }

    std::vector<MtlMaterial> materials;
    LineReader reader(file.get(), path);
    std::string line;
    while (reader.readLine(line)) {
        LineTokenizer tokens(line);
        const auto keyword = tokens.next(" \t\n\r");
        if (!keyword || *keyword == "//" || *keyword == "#") {
            continue;
        }
        if (*keyword == "newmtl") {
            // Only spaces and tabs end the name, so it may run on to the line end, which is dropped.
            const auto name = tokens.next(" \t");
            MtlMaterial material;
            material.name = name ? withoutLineEnd(*name) : std::string();
            materials.push_back(std::move(material));
            continue;
        }
        if (materials.empty()) {
            continue;
        }
        MtlMaterial& material = materials.back();
        if (*keyword == "Ka") {
            readTriple(tokens, material.Ka);
        } else if (*keyword == "Kd") {
            readTriple(tokens, material.Kd);
        } else if (*keyword == "Ks") {
            readTriple(tokens, material.Ks);
        } else if (*keyword == "Ns") {
            material.Ns = nextValue(tokens);
        } else if (*keyword == "d") {
            material.d = nextValue(tokens);
        } else if (*keyword == "r") {
            material.r = nextValue(tokens);
        } else if (*keyword == "sharpness") {
            material.sharpness = nextValue(tokens);
        } else if (*keyword == "Ni") {
            material.Ni = nextValue(tokens);
        } else if (*keyword == "map_Ka") {
            material.mapKa = texturePath(nextMapName(tokens), m_directory);
        } else if (*keyword == "map_refl") {
            material.mapRefl = texturePath(nextMapName(tokens), m_directory);
        }
    }
    return materials;
}

} // namespace Raytracer
