#pragma once

#include <string>
#include <string_view>

namespace Raytracer::Import {

// One of the four places of the viewer's scene an imported model can take.
struct ModelSlot {
    const char* name;   // as given to --as
    const char* stem;   // the pair's file names without extension
    int sceneIndex;     // index into Scene::models
    double height;      // the shipped model's height in scene units, the default of --height
    bool standsOnFloor; // the robot stands on the floor at the origin; the others orbit about
                        // their centre
};

// The slot called name, or null.
const ModelSlot* findSlot(std::string_view name);

// The slot names joined by '|', for usage lines.
std::string slotNames();

} // namespace Raytracer::Import
