#include "scene/SceneObject.h"

#include "geometry/Primitive.h"
#include "scene/Scene.h"
#include "geometry/Vertex.h"

namespace Raytracer {

void SceneObject::applyTransform(const Vector3& position, const Quaternion& rotation) {
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        vertices[i]->position = rotation.rotate(restVertices[i]->position) + position;
        vertices[i]->normal = normalize(rotation.rotate(restVertices[i]->normal));
    }
    updateTriangles();
}

void SceneObject::updateTriangles() {
    for (std::int32_t j = firstPrimitive; j < endPrimitive; ++j) {
        ownerScene->primitives[j]->update();
    }
}

void SceneObject::allocateVertices(int count) {
    const auto n = static_cast<std::size_t>(count);
    m_vertexStore.assign(2 * n, Vertex{});
    vertices.resize(n);
    restVertices.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        vertices[i] = &m_vertexStore[i];
        restVertices[i] = &m_vertexStore[n + i];
    }
}

void SceneObject::computeBounds(Vector3& min, Vector3& max) const {
    min = Vector3(10000.0f, 10000.0f, 10000.0f);
    max = Vector3(-10000.0f, -10000.0f, -10000.0f);
    for (const Vertex* vertex : restVertices) {
        for (int axis = 0; axis < 3; ++axis) {
            const float c = vertex->position[axis];
            if (!(c >= min[axis])) {
                min[axis] = c;
            }
            if (c > max[axis]) {
                max[axis] = c;
            }
        }
    }
}

void SceneObject::rebase(const Vector3& position, const Quaternion& rotation) {
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const Vector3 local = rotation.inverseRotate(restVertices[i]->position - position);
        const Vector3 normal = normalize(rotation.inverseRotate(restVertices[i]->normal));
        restVertices[i]->position = local;
        vertices[i]->position = local;
        restVertices[i]->normal = normal;
        vertices[i]->normal = normal;
    }
    updateTriangles();
}

} // namespace Raytracer
