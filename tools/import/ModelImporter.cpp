#include "tools/import/ModelImporter.h"

#include "animation/MsModel.h"
#include "animation/Skeleton.h"
#include "math/FatalError.h"
#include "scene/Scene.h"
#include "tools/import/Handedness.h"
#include "tools/import/ImportedModel.h"
#include "tools/import/KeyTrack.h"
#include "tools/import/PairWriter.h"
#include "tools/import/SkinnedReader.h"
#include "tools/import/StagedFiles.h"
#include "tools/import/ViewerCheck.h"
#include "tools/scenegen/Models.h"
#include "tools/scenegen/OutputFile.h"
#include "tools/scenegen/TextFormat.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

namespace Raytracer::Import {

namespace {

std::string count(std::size_t n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

bool finite(const std::array<float, 3>& values) {
    return std::isfinite(values[0]) && std::isfinite(values[1]) && std::isfinite(values[2]);
}

// What the reader takes on trust: indices inside their lists and numbers that are numbers.
void checkModelData(const msModel& model, const std::string& path) {
    for (std::size_t v = 0; v < model.vertices.size(); ++v) {
        if (!finite(model.vertices[v].position)) {
            throw FatalError(path + ": vertex " + std::to_string(v + 1) +
                             " has a position that is not a number");
        }
    }
    for (std::size_t t = 0; t < model.triangles.size(); ++t) {
        for (std::uint16_t index : model.triangles[t].vertexIndices) {
            if (index >= model.vertices.size()) {
                throw FatalError(path + ": triangle " + std::to_string(t + 1) + " uses vertex " +
                                 std::to_string(index + 1) + " of " + std::to_string(model.vertices.size()));
            }
        }
    }
    for (const MsJoint& joint : model.joints) {
        bool numbers = finite(joint.rotation) && finite(joint.position);
        for (const auto* keys : {&joint.rotationKeys, &joint.positionKeys}) {
            for (const MsKeyframe& key : *keys) {
                numbers = numbers && std::isfinite(key.time) && finite(key.value);
            }
        }
        if (!numbers) {
            throw FatalError(path + ": joint " + joint.name + " has a pose or key that is not a number");
        }
    }
}

void fitAllKeys(JointTree& tree, const std::string& path, std::vector<std::string>& notes) {
    std::size_t resampled = 0;
    std::size_t thinned = 0;
    std::size_t most = 0;
    for (ImportedJoint& joint : tree.joints) {
        const KeyFit fit = fitKeys(joint.rotationKeys, joint.positionKeys, Joint::maxKeys);
        resampled += fit.resampled;
        thinned += fit.after < fit.before;
        most = std::max(most, fit.before);
    }
    if (resampled > 0) {
        notes.push_back(path + ": the rotation and position keys of " + count(resampled, "joint") +
                        " put on shared times, as the viewer pairs them");
    }
    if (thinned > 0) {
        notes.push_back(path + ": the keys of " + count(thinned, "joint") + " (up to " +
                        std::to_string(most) + ") thinned evenly to the viewer's " +
                        std::to_string(Joint::maxKeys));
    }
}

void checkPartSizes(const ImportedModel& model, const std::string& path) {
    for (std::size_t j = 0; j < model.split.parts.size(); ++j) {
        const std::size_t triangles = model.split.parts[j].mesh.triangles.size();
        if (triangles > static_cast<std::size_t>(Scene::jointPrimitiveCapacity)) {
            throw FatalError(path + ": joint " + model.tree.joints[j].name + " carries " +
                             std::to_string(triangles) + " triangles; the viewer takes at most " +
                             std::to_string(Scene::jointPrimitiveCapacity) + " per joint");
        }
    }
}

std::string summary(const ImportedModel& model, const std::string& directory, double height) {
    std::size_t triangles = 0;
    std::size_t vertices = 0;
    for (const RigidPart& part : model.split.parts) {
        triangles += part.mesh.triangles.size();
        vertices += part.mesh.positions.size();
    }
    float first = 0.0f;
    float last = 0.0f;
    bool keyed = false;
    for (const ImportedJoint& joint : model.tree.joints) {
        if (!joint.rotationKeys.empty()) {
            first =
                keyed ? std::min(first, joint.rotationKeys.front().time) : joint.rotationKeys.front().time;
            last = keyed ? std::max(last, joint.rotationKeys.back().time) : joint.rotationKeys.back().time;
            keyed = true;
        }
    }
    const std::string stem = model.slot->stem;
    std::string line = Scenegen::joinPath(directory, stem) +
                       ".ms3d, .obj and .mtl written: " + count(model.tree.joints.size(), "joint") + ", " +
                       std::to_string(triangles) + " triangles on " + std::to_string(vertices) +
                       " vertices, " + Scenegen::format("%g", height) + " units tall; ";
    if (!keyed) {
        return line + "no animation";
    }
    const std::string frames = Scenegen::format("frames %g-%g at %g fps", first, last, model.framesPerSecond);
    if (!model.slot->standsOnFloor) {
        return line + frames + ", of which this slot shows the pose of time 0";
    }
    return line + frames + "; the robot's states play its frames as they play cylon's: " +
           Scenegen::format("Loop 0-%g, Walk %g-%g, Jump %g-%g, Crouch %g-%g", Scenegen::cylonLastFrame,
                            Scenegen::cylonWalkStart, Scenegen::cylonWalkEnd, Scenegen::cylonJumpStart,
                            Scenegen::cylonJumpEnd, Scenegen::cylonCrouchStart, Scenegen::cylonCrouchEnd);
}

} // namespace

void importModel(const ImportOptions& options, std::vector<std::string>& notes) {
    const std::string& path = options.model;
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool milkShape = extension == ".ms3d";
    msModel source;
    std::vector<ImportedMaterial> materials;
    if (milkShape && !source.load(path)) {
        throw FatalError(path + ": not a MilkShape 3D version 4 file");
    }
    if (!milkShape) {
        SkinnedModel skinned = readSkinnedModel(path, options.slot->stem, notes);
        source = std::move(skinned.model);
        materials = std::move(skinned.materials);
    }
    checkModelData(source, path);
    mirrorToViewerSpace(source);
    StagedFiles staged(options.outDirectory);

    ImportedModel model;
    model.sourceName = std::filesystem::path(path).filename().string();
    model.slot = options.slot;
    model.framesPerSecond = source.animationFps;
    model.totalFrames = source.totalFrames;
    model.tree = buildJointTree(source, path, notes);
    fitAllKeys(model.tree, path, notes);
    model.materials = milkShape ? importMaterials(source, path, options.slot->stem, notes) : std::move(materials);
    model.split = splitIntoParts(source, model.tree, model.materials);
    checkPartSizes(model, path);
    if (model.split.flatTriangles > 0) {
        notes.push_back(path + ": " + std::to_string(model.split.flatTriangles) +
                        " triangles without area left out");
    }
    if (model.split.mixedParts > 0) {
        notes.push_back(
            path + ": " + count(model.split.mixedParts, "joint") +
            " with triangles of several materials; each part takes the one most of its triangles use");
    }
    const double height = options.height.value_or(options.slot->height);
    model.placement = placeModel(model.tree, model.split, *options.slot, height, path);

    for (const PairFile& file : writePair(model)) {
        staged.add(file.name, file.bytes);
    }
    checkWithViewer(staged.preview(), options.outDirectory, *options.slot, path);
    staged.commit();
    notes.push_back(summary(model, options.outDirectory, height));
}

} // namespace Raytracer::Import
