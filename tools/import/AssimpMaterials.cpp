#include "tools/import/AssimpMaterials.h"

#include "tools/import/TextureImage.h"
#include "tools/scenegen/TextFormat.h"

#include <assimp/material.h>

#include <algorithm>
#include <cctype>
#include <optional>

namespace Raytracer::Import {

namespace {

// The highest reflectivity a polished metal gets; a polished non-metal reflects as glass does.
constexpr double metalReflectivity = 0.9;
constexpr double dielectricReflectivity = 0.04;
// The specular weight of a perfectly smooth surface, as the stage's chrome and glass have it.
constexpr double smoothSpecular = 0.9;
// The Phong exponent from which reflections are sharp; below it they blur in proportion.
constexpr double sharpShininess = 128.0;
// The refractive index of a material that lets light through but names none.
constexpr double glassIndex = 1.5;

double unit(double value) {
    return std::clamp(value, 0.0, 1.0);
}

std::optional<double> scalar(const aiMaterial& material, const char* key, unsigned int type,
                             unsigned int index) {
    ai_real value = 0;
    if (material.Get(key, type, index, value) != aiReturn_SUCCESS) {
        return std::nullopt;
    }
    return static_cast<double>(value);
}

std::optional<aiColor4D> colour(const aiMaterial& material, const char* key, unsigned int type,
                                unsigned int index) {
    aiColor4D value;
    if (material.Get(key, type, index, value) != aiReturn_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

double mean(const aiColor4D& c) {
    return (unit(c.r) + unit(c.g) + unit(c.b)) / 3.0;
}

std::string lettersAndDigits(const std::string& text) {
    std::string kept;
    std::copy_if(text.begin(), text.end(), std::back_inserter(kept),
                 [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
    return kept;
}

void mapShading(const aiMaterial& source, Scenegen::MtlEntry& entry) {
    const std::optional<double> metallic = scalar(source, AI_MATKEY_METALLIC_FACTOR);
    const std::optional<double> roughness = scalar(source, AI_MATKEY_ROUGHNESS_FACTOR);
    double reflectivity = 0.0;
    if (metallic || roughness) {
        // Metallic-roughness, with glTF's defaults of 1 for a factor the file leaves out.
        const double metal = unit(metallic.value_or(1.0));
        const double smooth = 1.0 - unit(roughness.value_or(1.0));
        reflectivity =
            (dielectricReflectivity + (metalReflectivity - dielectricReflectivity) * metal) * smooth;
        entry.specular = smoothSpecular * smooth;
        entry.reflectionBlur = 1.0 - smooth;
    } else {
        const double strength = scalar(source, AI_MATKEY_SHININESS_STRENGTH).value_or(1.0);
        const std::optional<aiColor4D> specular = colour(source, AI_MATKEY_COLOR_SPECULAR);
        entry.specular = specular ? unit(mean(*specular) * strength) : 0.0;
        const std::optional<aiColor4D> reflective = colour(source, AI_MATKEY_COLOR_REFLECTIVE);
        const std::optional<double> factor = scalar(source, AI_MATKEY_REFLECTIVITY);
        reflectivity = reflective && factor ? unit(mean(*reflective) * *factor) : 0.0;
        entry.reflectionBlur = 1.0 - unit(scalar(source, AI_MATKEY_SHININESS).value_or(0.0) / sharpShininess);
    }
    double opacity = unit(scalar(source, AI_MATKEY_OPACITY).value_or(1.0));
    if (const std::optional<double> transmission = scalar(source, AI_MATKEY_TRANSMISSION_FACTOR)) {
        opacity = std::min(opacity, 1.0 - unit(*transmission));
    }
    entry.opacity = opacity;
    // What is reflected and what passes through must leave the diffuse part at least nothing.
    entry.reflectivityPercent = 100.0 * std::min(reflectivity, opacity);
    if (reflectivity == 0.0) {
        entry.reflectionBlur = 0.0; // no blurred rays for a surface that reflects nothing
    }
    const std::optional<double> index = scalar(source, AI_MATKEY_REFRACTI);
    entry.refractionIndex = index && *index >= 1.0 ? *index : (opacity < 1.0 ? glassIndex : 1.0);
}

} // namespace

std::vector<ImportedMaterial> importAssimpMaterials(const aiScene& scene, const std::string& path,
                                                    std::vector<std::string>& notes) {
    std::vector<ImportedMaterial> materials;
    for (unsigned int i = 0; i < scene.mNumMaterials; ++i) {
        const aiMaterial& source = *scene.mMaterials[i];
        const std::string name = source.GetName().C_Str();
        ImportedMaterial material;
        Scenegen::MtlEntry& entry = material.entry;
        entry.name = Scenegen::format("m%u_", i + 1) + lettersAndDigits(name);
        const std::optional<aiColor4D> base = colour(source, AI_MATKEY_BASE_COLOR);
        const aiColor4D kd =
            base ? *base
                 : colour(source, AI_MATKEY_COLOR_DIFFUSE).value_or(aiColor4D(0.8f, 0.8f, 0.8f, 1.0f));
        entry.color[0] = unit(kd.r);
        entry.color[1] = unit(kd.g);
        entry.color[2] = unit(kd.b);
        mapShading(source, entry);
        aiString texture;
        if (source.GetTexture(aiTextureType_BASE_COLOR, 0, &texture) == aiReturn_SUCCESS ||
            source.GetTexture(aiTextureType_DIFFUSE, 0, &texture) == aiReturn_SUCCESS) {
            const std::string why = keepDecodedTexture(material, scene, texture.C_Str(), path);
            if (!why.empty()) {
                notes.push_back(path + ": texture " + texture.C_Str() + " of material " + name +
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
