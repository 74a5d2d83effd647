#include "tools/import/ImportedMaterials.h"

#include "tools/scenegen/TextFormat.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>

namespace Raytracer::Import {

namespace {

constexpr std::size_t tgaHeaderSize = 18;
constexpr unsigned char tgaUncompressedColour = 2;
constexpr unsigned char tgaTopOriginBit = 0x20;

double unit(float value) {
    return std::clamp(static_cast<double>(value), 0.0, 1.0);
}

std::string lettersAndDigits(const std::string& text) {
    std::string kept;
    std::copy_if(text.begin(), text.end(), std::back_inserter(kept),
                 [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
    return kept;
}

// MilkShape stores texture paths relative to the model file, often with backslashes.
std::string texturePath(const std::string& modelPath, std::string texture) {
    std::replace(texture.begin(), texture.end(), '\\', '/');
    if (texture.starts_with("./")) {
        texture.erase(0, 2);
    }
    const std::size_t slash = modelPath.rfind('/');
    return texture.starts_with("/") || slash == std::string::npos ? texture
                                                                  : modelPath.substr(0, slash + 1) + texture;
}

// Fills the texture fields when path is a TGA file the viewer reads; otherwise says why not.
std::string keepTexture(ImportedMaterial& material, const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!lower.ends_with(".tga")) {
        return "the viewer reads only uncompressed 24-bit TGA textures";
    }
    std::ifstream file(path, std::ios::binary);
    std::array<unsigned char, tgaHeaderSize> header{};
    if (!file.read(reinterpret_cast<char*>(header.data()), header.size())) {
        return "it cannot be read";
    }
    const int width = header[12] | (header[13] << 8);
    const int height = header[14] | (header[15] << 8);
    if (header[2] != tgaUncompressedColour || header[16] != 24 || width == 0 || height == 0) {
        return "it is not an uncompressed 24-bit TGA image, the only kind the viewer reads";
    }
    material.textureSource = path;
    material.bottomOrigin = (header[17] & tgaTopOriginBit) == 0;
    material.rowScale = static_cast<double>(height) / width;
    return {};
}

} // namespace

Scenegen::Mesh::TexCoord ImportedMaterial::texCoord(float s, float t) const {
    return {s, (bottomOrigin ? 1.0 - t : static_cast<double>(t)) * rowScale};
}

std::vector<ImportedMaterial> importMaterials(const msModel& model, const std::string& path,
                                              const std::string& stem, std::vector<std::string>& notes) {
    std::vector<ImportedMaterial> materials;
    for (std::size_t i = 0; i < model.materials.size(); ++i) {
        const MsMaterial& source = model.materials[i];
        ImportedMaterial material;
        Scenegen::MtlEntry& entry = material.entry;
        entry.name = Scenegen::format("m%zu_", i + 1) + lettersAndDigits(source.name);
        for (int c = 0; c < 3; ++c) {
            entry.color[c] = unit(source.diffuse[c]);
        }
        entry.specular =
            (unit(source.specular[0]) + unit(source.specular[1]) + unit(source.specular[2])) / 3.0;
        // MilkShape's transparency is an opacity: 1 is solid.
        entry.opacity = unit(source.transparency);
        if (!source.texture.empty()) {
            const std::string texture = texturePath(path, source.texture);
            const std::size_t slash = texture.rfind('/');
            std::string file = stem + "-" + texture.substr(slash == std::string::npos ? 0 : slash + 1);
            std::replace_if(
                file.begin(), file.end(), [](unsigned char c) { return std::isspace(c) != 0; }, '_');
            const std::string why = keepTexture(material, texture);
            if (why.empty()) {
                material.textureFile = file;
                entry.colorTexture = file;
            } else {
                material.textureSource.clear();
                notes.push_back(path + ": texture " + source.texture + " of material " + source.name +
                                " left out: " + why);
            }
        }
        materials.push_back(std::move(material));
    }
    ImportedMaterial fallback;
    fallback.entry.name = "m0_default";
    materials.push_back(fallback);
    return materials;
}

} // namespace Raytracer::Import
