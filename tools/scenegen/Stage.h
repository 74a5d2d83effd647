#pragma once

#include <string>

namespace Raytracer::Scenegen {

// Writes the stage into directory: scene.obj (bounds, lights, floor, sky dome and the renderable
// objects with their boxes), scene.mtl and the textures it names; with extraTriangles above 0 one more
// renderable object, a bumpy sphere of about that many triangles. Throws OutputError when a file cannot
// be written.
void writeStage(const std::string& directory, int extraTriangles = 0);

} // namespace Raytracer::Scenegen
