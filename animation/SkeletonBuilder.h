#pragma once

#include <string>

namespace Raytracer {

class KdPool;
class Scene;
class Skeleton;

// Builds the articulated model of a MilkShape file: its joint tree with every key turned into a
// complete local transform (bind pose included, distances scaled by the model tuning value), and per
// joint a sub-scene with the joint's mesh and kd-tree plus a proxy box in scene, all from the companion
// OBJ file (the path up to the first dot of the file name, plus ".obj"). The meshes are authored in
// model space at the bind pose; afterwards every mesh and proxy is in its joint's local frame, ready
// for posing.
// Throws FatalError with one line naming the file when the model cannot be built.
void loadSkeleton(Skeleton& skeleton, const std::string& fileName, Scene& scene, KdPool& pool);

// The companion OBJ file of a model file: "meshes/star.ms3d" gives "meshes/star.obj".
std::string companionObjName(const std::string& fileName);

} // namespace Raytracer
