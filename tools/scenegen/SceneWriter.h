#pragma once

#include <string>

namespace Raytracer::Scenegen {

// Writes every file the program reads from meshes/ into directory: the stage (with a bumpy sphere of
// about extraTriangles triangles when above 0, see writeStage), then the four models. Throws
// OutputError when a file cannot be written.
void writeScene(const std::string& directory, int extraTriangles = 0);

} // namespace Raytracer::Scenegen
