#include "tools/import/ObjectImporter.h"

#include "math/FatalError.h"
#include "scene/ObjParser.h"
#include "tools/import/AssimpFile.h"
#include "tools/import/AssimpMaterials.h"
#include "tools/import/ObjectPlacement.h"
#include "tools/import/StageLayout.h"
#include "tools/import/StagedFiles.h"
#include "tools/import/ViewerCheck.h"
#include "tools/scenegen/Models.h"
#include "tools/scenegen/MtlWriter.h"
#include "tools/scenegen/ObjWriter.h"
#include "tools/scenegen/OutputFile.h"
#include "tools/scenegen/TextFormat.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace Raytracer::Import {

namespace {

// The stage a new scene folder starts as, from the working directory as the viewer finds it.
constexpr const char* shippedStage = "meshes/";
constexpr std::size_t longestStem = 16;

// The letters and digits of the file's name in lower case, leaving out the characters that would end
// the part of a name its companion box is named by (O, B, J, 3, D: see README, "Scene files").
std::string nameStem(const std::string& path) {
    std::string stem;
    for (const char c : std::filesystem::path(path).stem().string()) {
        const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (std::isalnum(static_cast<unsigned char>(lower)) != 0 && lower != '3' &&
            stem.size() < longestStem) {
            stem += lower;
        }
    }
    return stem.empty() ? "model" : stem;
}

// a, b, ..., z, ba, bb, ...: letters only, so that no object name of one import ends another's.
std::string letters(std::size_t n) {
    std::string text(1, static_cast<char>('a' + n % 26));
    for (n /= 26; n > 0; n /= 26) {
        text.insert(text.begin(), static_cast<char>('a' + n % 26));
    }
    return text;
}

bool contains(const std::vector<std::string>& names, const std::string& text) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& name) { return name.find(text) != std::string::npos; });
}

bool endsAny(const std::vector<std::string>& names, const std::string& text) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& name) { return name.ends_with(text); });
}

// Object names <stem>_<letters>, with a number after the stem when a name would be found in place of
// one the scene has: the viewer finds a companion box as the first object containing its name, and
// a material as the first whose name ends with the usemtl text; a texture must not replace a file.
std::vector<std::string> objectNames(const std::string& stem, std::size_t count, const StageLayout& stage,
                                     const std::string& folder) {
    for (int n = 1;; ++n) {
        if (std::to_string(n).find('3') != std::string::npos) {
            continue;
        }
        const std::string prefix = (n == 1 ? stem : stem + std::to_string(n)) + "_";
        std::vector<std::string> names;
        bool free = true;
        for (std::size_t i = 0; i < count && free; ++i) {
            names.push_back(prefix + letters(i));
            std::error_code error;
            free = !contains(stage.groupNames, names.back() + "BBox") &&
                   !contains(stage.groupNames, names.back() + "OBJ3D") &&
                   !endsAny(stage.materialNames, names.back()) &&
                   !std::filesystem::exists(folder + names.back() + ".tga", error);
        }
        if (free) {
            return names;
        }
    }
}

void checkRoom(std::size_t objects, const StageLayout& stage, const std::string& path,
               const std::string& scenePath) {
    const std::size_t sections = stage.objectSections + 2 * objects;
    if (sections > static_cast<std::size_t>(ObjParser::maxObjectSections)) {
        throw FatalError(path + ": " + std::to_string(objects) +
                         " objects (one per material, each with its box) " + "would bring " + scenePath +
                         " to " + std::to_string(sections) + " object sections; at most " +
                         std::to_string(ObjParser::maxObjectSections) + " are allowed");
    }
}

} // namespace

void importObjects(const ImportOptions& options, std::vector<std::string>& notes) {
    const std::string& path = options.model;
    const AssimpFile file(path, AssimpFile::Use::stillObjects);
    std::vector<ImportedMaterial> materials = importAssimpMaterials(file.scene(), path, notes);
    StillParts still = gatherStillParts(file.scene(), materials);
    if (still.flatTriangles > 0) {
        notes.push_back(path + ": " + std::to_string(still.flatTriangles) +
                        " triangles without area left out");
    }
    if (still.parts.empty()) {
        throw FatalError(path + ": the model has no triangles to show");
    }

    StagedFiles staged(options.outDirectory, shippedStage);
    const std::string scenePath = Scenegen::joinPath(options.outDirectory, "scene.obj");
    const StageLayout stage = readStage(staged.folder());
    checkRoom(still.parts.size(), stage, path, scenePath);
    const ObjectPlace place =
        placeObjects(still, stage, options.height, options.at, options.turnDegrees, path);

    const std::vector<std::string> names =
        objectNames(nameStem(path), still.parts.size(), stage, staged.folder());
    Scenegen::ObjWriter obj({}, "");
    obj.continueAfter(stage.positions, stage.texCoords, stage.normals);
    std::vector<Scenegen::MtlEntry> entries;
    std::size_t triangles = 0;
    for (std::size_t i = 0; i < still.parts.size(); ++i) {
        const StillPart& part = still.parts[i];
        ImportedMaterial& material = materials[part.material];
        Scenegen::MtlEntry entry = material.entry;
        entry.name = names[i];
        if (!material.textureBytes.empty()) {
            entry.colorTexture = names[i] + ".tga";
            staged.add(entry.colorTexture, material.textureBytes);
        }
        entries.push_back(entry);
        obj.addMesh(names[i] + "OBJ3D", names[i], part.mesh);
        obj.addPositionsOnly(
            names[i] + "BBox", "",
            Scenegen::proxyBox(part.mesh.minCorner(), part.mesh.maxCorner(), Scenegen::jointBoxMargin));
        triangles += part.mesh.triangles.size();
    }
    const std::string source = std::filesystem::path(path).filename().string();
    std::string objText = stage.objText;
    if (!objText.empty() && objText.back() != '\n') {
        objText += '\n';
    }
    staged.add("scene.obj", objText + "# Added by lumenbox-import from " + source + "\n" + obj.text());
    staged.add(stage.libraryName,
               stage.libraryText + "\n" +
                   Scenegen::mtlText({"Materials of " + source + ", added by lumenbox-import."}, entries));

    checkSceneWithViewer(staged.preview(), options.outDirectory, path);
    staged.commit();
    notes.push_back(scenePath + ": " + std::to_string(still.parts.size()) + " object" +
                    (still.parts.size() == 1 ? "" : "s") + " added (" + names.front() +
                    (names.size() == 1 ? "" : " to " + names.back()) + "), " + std::to_string(triangles) +
                    " triangles, " + Scenegen::format("%.3g", place.height) + " units tall, standing at " +
                    Scenegen::format("%.2f,%.2f", place.x + 0.0, place.z + 0.0) + " on the floor at height " +
                    Scenegen::format("%.2f", place.floor + 0.0));
}

} // namespace Raytracer::Import
