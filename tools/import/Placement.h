#pragma once

#include "tools/import/JointTree.h"
#include "tools/import/ModelSlot.h"
#include "tools/import/RigidParts.h"

#include <array>
#include <string>

namespace Raytracer::Import {

// Where the imported model goes in the scene: scene position = scale * file position + offset.
struct Placement {
    double scale = 1.0;
    std::array<double, 3> offset{};
    std::array<double, 3> centre{}; // middle of the model's box at time 0, in file units
};

// Fits the model as the viewer first shows it (each joint at its keys of time 0) to height scene
// units: standing on the floor about the origin in the robot's slot, centred on the origin in the
// orbiting slots. Throws FatalError naming path when the model has no triangles or no height.
Placement placeModel(const JointTree& tree, const PartSplit& split, const ModelSlot& slot, double height,
                     const std::string& path);

} // namespace Raytracer::Import
