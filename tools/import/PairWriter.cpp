#include "tools/import/PairWriter.h"

#include "animation/AnimationClock.h"
#include "math/FatalError.h"
#include "tools/scenegen/MilkShapeWriter.h"
#include "tools/scenegen/Models.h"
#include "tools/scenegen/ObjWriter.h"
#include "tools/scenegen/OutputFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <numeric>

namespace Raytracer::Import {

namespace {

using Point = Scenegen::Mesh::Point;

// A scene distance as the MilkShape file must hold it: the loader scales every distance by modelTuning.
float fileDistance(double sceneDistance) {
    return static_cast<float>(sceneDistance / modelTuning);
}

// The joint's bind translation in the written file. The root carries the placement; an added root sits
// at the model's centre, so the file's roots below it move by the centre.
std::array<float, 3> writtenPosition(const ImportedModel& model, std::size_t index) {
    const ImportedJoint& joint = model.tree.joints[index];
    const Placement& place = model.placement;
    std::array<float, 3> position{};
    for (std::size_t i = 0; i < 3; ++i) {
        double scene = place.scale * joint.position[i];
        if (joint.parent < 0) {
            scene =
                place.scale * (model.tree.addedRoot ? place.centre[i] : joint.position[i]) + place.offset[i];
        } else if (joint.parent == 0 && model.tree.addedRoot) {
            scene = place.scale * (joint.position[i] - place.centre[i]);
        }
        position[i] = fileDistance(scene);
    }
    return position;
}

std::string milkShapeBytes(const ImportedModel& model) {
    Scenegen::MsWriterModel file;
    file.animationFps = model.framesPerSecond;
    file.totalFrames = model.totalFrames;
    file.comment = "Imported by lumenbox-import from " + model.sourceName +
                   ": the joints and their keys; the meshes are in the companion OBJ file.";
    const std::vector<ImportedJoint>& joints = model.tree.joints;
    for (std::size_t j = 0; j < joints.size(); ++j) {
        const ImportedJoint& joint = joints[j];
        Scenegen::MsWriterJoint written;
        written.flags = joint.flags;
        written.name = joint.name;
        written.parentName = joint.parent < 0 ? "" : joints[static_cast<std::size_t>(joint.parent)].name;
        std::copy(joint.rotation.begin(), joint.rotation.end(), written.rotation);
        const std::array<float, 3> position = writtenPosition(model, j);
        std::copy(position.begin(), position.end(), written.position);
        std::copy(joint.color.begin(), joint.color.end(), written.color);
        // The file holds seconds; the loader turns them back into frames at the same rate.
        for (const MsKeyframe& key : joint.rotationKeys) {
            written.rotationKeys.push_back(
                {key.time / model.framesPerSecond, {key.value[0], key.value[1], key.value[2]}});
        }
        for (const MsKeyframe& key : joint.positionKeys) {
            Scenegen::MsWriterKeyframe moved{key.time / model.framesPerSecond, {}};
            for (std::size_t i = 0; i < 3; ++i) {
                moved.value[i] = fileDistance(model.placement.scale * key.value[i]);
            }
            written.positionKeys.push_back(moved);
        }
        file.joints.push_back(std::move(written));
    }
    const std::vector<std::uint8_t> bytes = Scenegen::writeMilkShape(file);
    return std::string(bytes.begin(), bytes.end());
}

std::string objText(const ImportedModel& model) {
    const std::string stem = model.slot->stem;
    Scenegen::ObjWriter obj({"Imported by lumenbox-import from " + model.sourceName + " for the " +
                                 model.slot->name + " slot: per joint a mesh and its box,",
                             "in scene units at the bind pose."},
                            stem + ".mtl");
    // The loader takes the first part whose name contains the joint's name and the part's ending. A
    // longer part name can contain a shorter one (armOBJ3D in forearmOBJ3D) but never the reverse, so
    // shorter names come first.
    const std::vector<ImportedJoint>& joints = model.tree.joints;
    std::vector<std::size_t> order(joints.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return joints[a].name.size() < joints[b].name.size();
    });
    const Placement& place = model.placement;
    for (std::size_t j : order) {
        const RigidPart& part = model.split.parts[j];
        Scenegen::Mesh mesh = part.mesh;
        for (Point& p : mesh.positions) {
            p = {place.scale * p.x + place.offset[0], place.scale * p.y + place.offset[1],
                 place.scale * p.z + place.offset[2]};
        }
        const bool empty = mesh.positions.empty();
        obj.addMesh(joints[j].name + "OBJ3D", empty ? "" : model.materials[part.material].entry.name, mesh);
        obj.addPositionsOnly(
            joints[j].name + "BBox", "",
            empty ? Scenegen::Mesh{}
                  : Scenegen::proxyBox(mesh.minCorner(), mesh.maxCorner(), Scenegen::jointBoxMargin));
    }
    return obj.text();
}

std::string fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(file), {});
    if (!file.good() && !file.eof()) {
        throw FatalError(path + ": the texture cannot be read");
    }
    return bytes;
}

std::string materialLibrary(const ImportedModel& model) {
    std::vector<Scenegen::MtlEntry> entries;
    for (const ImportedMaterial& material : model.materials) {
        entries.push_back(material.entry);
    }
    const std::string comment =
        "Materials of " + model.sourceName +
        ", imported by lumenbox-import: Kd colour, Ks (red) specular weight, d opacity.";
    return Scenegen::mtlText({comment}, entries);
}

} // namespace

std::vector<PairFile> writePair(const ImportedModel& model) {
    const std::string stem = model.slot->stem;
    std::vector<PairFile> files = {{stem + ".ms3d", milkShapeBytes(model)},
                                   {stem + ".obj", objText(model)},
                                   {stem + ".mtl", materialLibrary(model)}};
    for (const ImportedMaterial& material : model.materials) {
        const bool copied = std::any_of(files.begin(), files.end(), [&](const PairFile& file) {
            return file.name == material.textureFile;
        });
        if (!material.textureFile.empty() && !copied) {
            files.push_back({material.textureFile, material.textureBytes.empty() ? fileBytes(material.textureSource)
                                                                              : material.textureBytes});
        }
    }
    return files;
}

} // namespace Raytracer::Import
