#include "scene/SceneObject.h"

#include "geometry/Primitive.h"
#include "scene/Scene.h"
#include "scene/Vertex.h"

namespace Raytracer {

void SceneObject::applyTransform(const Vector3& position, const Quaternion& rotation) {
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        vertices[i]->position = rotation.rotate(restVertices[i]->position) + position;
        vertices[i]->normal = normalize(rotation.rotate(restVertices[i]->normal));
    }
    for (std::int32_t j = firstPrimitive; j < endPrimitive; ++j) {
        ownerScene->primitives[j]->update();
    }
}

} // namespace Raytracer
