#pragma once

#include "tools/import/ModelSlot.h"

#include <optional>
#include <string>

namespace Raytracer::Import {

struct ImportOptions {
    std::string model;               // the MilkShape file to import
    const ModelSlot* slot = nullptr; // where it goes
    std::string outDirectory;        // an existing folder, usually a copy of meshes/
    std::optional<double> height;    // scene units; the slot's own height when absent
    bool help = false;               // --help: print the usage and do nothing else
};

// The usage line.
std::string importUsage();

// Reads the arguments after the program name. Throws FatalError with one line on a bad command line.
ImportOptions parseImportOptions(int argc, const char* const* argv);

} // namespace Raytracer::Import
