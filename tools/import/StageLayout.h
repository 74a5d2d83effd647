#pragma once

#include "tools/scenegen/Mesh.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace Raytracer::Import {

// An axis-aligned box in scene units.
struct Box {
    Scenegen::Mesh::Point low;
    Scenegen::Mesh::Point high;

    bool overlaps(const Box& other) const;
};

// What adding objects to a scene folder must know of the scene there.
struct StageLayout {
    std::string objText;                           // scene.obj as it is
    std::string libraryName;                       // the material library its header names
    std::string libraryText;                       // that library as it is
    int positions = 0, texCoords = 0, normals = 0; // records of scene.obj, numbered through the file
    std::size_t objectSections = 0;
    std::vector<std::string> groupNames;
    std::vector<std::string> materialNames;
    std::vector<Box> boxes; // the companion boxes of the renderable objects
    std::vector<std::array<Scenegen::Mesh::Point, 3>> groundTriangles; // of the environment objects

    // The height of the highest environment surface straight below or above (x, z), if any.
    std::optional<double> floorAt(double x, double z) const;
};

// Reads the scene in folder (ending in '/') with the viewer's own parser. Throws FatalError with one
// line naming the file when it cannot be read.
StageLayout readStage(const std::string& folder);

} // namespace Raytracer::Import
