#pragma once

#include <string>

namespace Raytracer {

class KdPool;
class Scene;

// Fills the renderer's freshly constructed top-level scene: the stage from directory + "scene.obj"
// (see loadStage), then the four animated models (star, cylon, ball and 2ball .ms3d with their
// companion OBJ files) from the same directory, every object's and joint's kd-tree built from pool,
// and finally the top-level tree over both. Throws FatalError with one line naming the file and the
// problem when the scene cannot be built.
void loadScene(Scene& scene, KdPool& pool, const std::string& directory = "meshes/");

} // namespace Raytracer
