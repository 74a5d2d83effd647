#pragma once

#include "tools/import/ImportedMaterials.h"
#include "tools/import/JointTree.h"
#include "tools/import/ModelSlot.h"
#include "tools/import/Placement.h"
#include "tools/import/RigidParts.h"

#include <string>
#include <vector>

namespace Raytracer::Import {

// A MilkShape model made ready for the viewer, before it is written.
struct ImportedModel {
    std::string sourceName; // the file's name without its folder
    const ModelSlot* slot = nullptr;
    float framesPerSecond = 24.0f;
    std::int32_t totalFrames = 0;
    JointTree tree;
    std::vector<ImportedMaterial> materials;
    PartSplit split;
    Placement placement;
};

} // namespace Raytracer::Import
