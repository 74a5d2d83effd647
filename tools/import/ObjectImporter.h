#pragma once

#include "tools/import/ImportOptions.h"

#include <string>
#include <vector>

namespace Raytracer::Import {

// Adds options.model to the scene in options.outDirectory (made as a copy of meshes/ when it does not
// exist) as still objects, one per material, each with its companion box, standing on the floor; the
// rest of the scene stays as it was. The files are read back by the viewer's own loader before they
// replace the scene. Mendings and a closing summary are one line each on notes. Throws FatalError with
// one line naming the file and the problem when the model cannot be added; the folder is then left
// as it was.
void importObjects(const ImportOptions& options, std::vector<std::string>& notes);

} // namespace Raytracer::Import
