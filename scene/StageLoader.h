#pragma once

#include <string>

namespace Raytracer {

class KdPool;
class Scene;

// Adds the stage to a freshly constructed top-level scene: the lights, environment objects and
// renderable objects of directory + "scene.obj", a Wavefront OBJ file whose object names give each
// object its role (see the README), with every renderable's sub-scene and kd-tree built from pool.
// The top-level tree is left to the caller, which may add more first. Throws FatalError with one line
// naming the file and the problem when the stage cannot be built.
void loadStage(Scene& scene, KdPool& pool, const std::string& directory);

// The name of a renderable object's companion box: the name without its leading run of the characters
// O, B, J, 3 and D, cut at the next of them, plus "BBox" (tableOBJ3D -> tableBBox).
std::string companionName(const std::string& objectName);

} // namespace Raytracer
