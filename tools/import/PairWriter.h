#pragma once

#include "tools/import/ImportedModel.h"

#include <string>
#include <vector>

namespace Raytracer::Import {

struct PairFile {
    std::string name; // within the output folder
    std::string bytes;
};

// The files the viewer reads for the model's slot: <stem>.ms3d with the joints and their keys,
// <stem>.obj with a mesh part and a box part per joint (in scene units at the bind pose, as the loader
// expects them), <stem>.mtl with the materials, and the kept textures.
std::vector<PairFile> writePair(const ImportedModel& model);

} // namespace Raytracer::Import
