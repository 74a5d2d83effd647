#pragma once

#include "tools/import/ModelSlot.h"

#include <string>

namespace Raytracer::Import {

// Loads the slot's files from preview with the viewer's own loader (the whole scene when the folder
// holds one, else the model alone) and checks that every part lies inside the box the viewer traces
// around its joint. Throws FatalError with one line naming modelPath, then the problem with the files
// as they will be in directory.
void checkWithViewer(const std::string& preview, const std::string& directory, const ModelSlot& slot,
                     const std::string& modelPath);

// Loads the whole scene from preview with the viewer's own loader. Throws FatalError with one line
// naming modelPath, then the problem with the files as they will be in directory.
void checkSceneWithViewer(const std::string& preview, const std::string& directory, const std::string& modelPath);

} // namespace Raytracer::Import
