#pragma once

#include "tools/import/ModelSlot.h"

#include <array>
#include <optional>
#include <string>

namespace Raytracer::Import {

struct ImportOptions {
    std::string model;                       // the model file to import
    const ModelSlot* slot = nullptr;         // where it goes; null with --as object
    bool asObject = false;                   // --as object: still objects added to the stage
    std::string outDirectory;                // the scene folder, usually a copy of meshes/
    std::optional<double> height;            // scene units; the slot's own height, or the model's own size
    std::optional<std::array<double, 2>> at; // --at X,Z: where an object stands; a free spot when absent
    double turnDegrees = 0.0;                // --turn: an object's turn about the vertical, +z towards +x
    bool help = false;                       // --help: print the usage and do nothing else
};

// The usage line.
std::string importUsage();

// Reads the arguments after the program name. Throws FatalError with one line on a bad command line.
ImportOptions parseImportOptions(int argc, const char* const* argv);

} // namespace Raytracer::Import
