#pragma once

#include "animation/MsModel.h"
#include "tools/import/ImportedMaterials.h"

#include <string>
#include <vector>

namespace Raytracer::Import {

// A skinned or animated model of any format Assimp reads, as the MilkShape reader would give it: one
// joint per node that is a bone, carries meshes or is animated (and every node above one), in the
// file's right-handed space at the nodes' rest pose, each vertex bound to its heaviest bone, keys of the
// first animation relative to the bind pose at the times the file keys any node (at most
// Joint::maxKeys, evenly chosen), at 24 frames a second. Past the viewer's joints, joints that own no
// triangle fold into their parents, their motion composed into their children's keys; that is one line
// on notes. Materials as importAssimpMaterials gives them, textures named <stem>-<material>.tga.
// Throws FatalError with one line naming path when the file cannot be read or held.
struct SkinnedModel {
    msModel model;
    std::vector<ImportedMaterial> materials;
};
SkinnedModel readSkinnedModel(const std::string& path, const std::string& stem, std::vector<std::string>& notes);

} // namespace Raytracer::Import
