#pragma once

#include <string>

namespace Raytracer {

class KdPool;
class Scene;

// Fills the renderer's freshly constructed top-level scene from directory + "scene.obj", a Wavefront
// OBJ file whose object names give each object its role (see the README), and the four animated
// models (star, cylon, ball and 2ball .ms3d with their companion OBJ files) from the same directory;
// builds every object's and joint's kd-tree from pool and finally the top-level tree. Throws FatalError with one line naming the file
// and the problem when the scene cannot be built.
void loadScene(Scene& scene, KdPool& pool, const std::string& directory = "meshes/");

// The name of a renderable object's companion box: the name without its leading run of the characters
// O, B, J, 3 and D, cut at the next of them, plus "BBox" (tableOBJ3D -> tableBBox).
std::string companionName(const std::string& objectName);

} // namespace Raytracer
