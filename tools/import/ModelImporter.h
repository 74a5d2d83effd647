#pragma once

#include "tools/import/ImportOptions.h"

#include <string>
#include <vector>

namespace Raytracer::Import {

// Converts options.model into the files of options.slot in options.outDirectory, after the viewer's
// own loader has read them back from a preview of the folder. Every mending (names, keys, textures
// left out) and a closing summary are one line each on notes. Throws FatalError with one line naming
// the file and the problem when the model cannot be imported; the folder is then left as it was.
void importModel(const ImportOptions& options, std::vector<std::string>& notes);

} // namespace Raytracer::Import
