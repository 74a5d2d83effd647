#pragma once

#include <string>

namespace Raytracer {

struct ObjModel;
class Scene;
class SceneObject;

// Turns one parsed OBJ object into sceneObject's vertices and one Triangle per face appended to
// target's primitives. With proxyFor set the triangles are proxies (owned by sceneObject, standing
// for proxyFor); otherwise they are environment triangles when the object's name contains
// "envOBJ3D", else lit triangles with the object's material. The caller sets ownerScene and, for
// proxies, instance. source names the object in error messages ("meshes/scene.obj, object tableOBJ3D").
//
// Face indices count through the whole file; each kind is mapped to the object's own lists by
// subtracting the smallest index the object's faces use, which holds because every object's faces
// use its first position, normal and texture coordinate. An index that still falls outside the
// object's lists throws FatalError. Each distinct (position, normal, texture coordinate) combination
// the corners use is a vertex of its own (see CornerVertices). A vertex without a normal has the face
// normal of the last face that uses it, one without texture coordinates has (0, 0).
void buildObject(const ObjModel& object, SceneObject& sceneObject, Scene* proxyFor, Scene& target,
                 const std::string& source);

} // namespace Raytracer
