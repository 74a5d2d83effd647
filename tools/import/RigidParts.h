#pragma once

#include "animation/MsModel.h"
#include "tools/import/ImportedMaterials.h"
#include "tools/import/JointTree.h"
#include "tools/scenegen/Mesh.h"

#include <vector>

namespace Raytracer::Import {

// The triangles one joint carries, in the file's model space at the bind pose (file units).
struct RigidPart {
    Scenegen::Mesh mesh;
    std::size_t material = 0; // index into the imported materials
};

struct PartSplit {
    std::vector<RigidPart> parts;  // one per joint of the tree, in tree order
    std::size_t flatTriangles = 0; // triangles without area, left out
    std::size_t mixedParts = 0;    // parts whose triangles used several materials
};

// Gives each triangle to the joint most of its corners are bound to (the first corner's joint when
// all three differ); a corner bound to no joint counts for the root. A part takes the material most
// of its triangles use. The viewer keeps one normal per position (the last face's), so each part
// has one vertex per distinct position and normal, and also texture coordinate where its material
// keeps a texture. The model's indices must have been checked.
PartSplit splitIntoParts(const msModel& model, const JointTree& tree,
                         const std::vector<ImportedMaterial>& materials);

} // namespace Raytracer::Import
