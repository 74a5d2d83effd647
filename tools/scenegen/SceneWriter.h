#pragma once

#include <string>

namespace Raytracer::Scenegen {

// Writes every file the program reads from meshes/ into directory: the stage, then the four models.
// Throws OutputError when a file cannot be written.
void writeScene(const std::string& directory);

} // namespace Raytracer::Scenegen
