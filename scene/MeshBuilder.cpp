#include "scene/MeshBuilder.h"

#include "geometry/Triangle.h"
#include "math/FatalError.h"
#include "scene/CornerVertices.h"
#include "scene/MaterialBuilder.h"
#include "scene/ObjModel.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "shading/Material.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace Raytracer {

namespace {

constexpr std::int32_t noIndex = 1000000000;

// The smallest index a kind of the object's faces uses, over the first three corners (absent
// indices aside); noIndex when none is used.
template <class Member> std::int32_t smallestIndex(const std::vector<ObjFace>& faces, Member member) {
    std::int32_t smallest = noIndex;
    for (const ObjFace& face : faces) {
        for (int k = 0; k < 3; ++k) {
            const std::int32_t index = (face.*member)[k];
            if (index >= 0) {
                smallest = std::min(smallest, index);
            }
        }
    }
    return smallest;
}

// The object-local index of a file index, checked against the object's list.
std::int32_t localIndex(std::int32_t index, std::int32_t base, std::size_t count, const char* kind,
                        const char* kinds, const std::string& source) {
    const std::int64_t local = static_cast<std::int64_t>(index) - base;
    if (local < 0 || local >= static_cast<std::int64_t>(count)) {
        throw FatalError(source + ": a face uses " + kind + " " + std::to_string(index + 1) +
                         ", which the object (" + std::to_string(count) + " " + (count == 1 ? kind : kinds) +
                         ") does not have");
    }
    return static_cast<std::int32_t>(local);
}

Vector3 toVector(const ObjVector& v) {
    return Vector3(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z));
}

} // namespace

void buildObject(const ObjModel& object, SceneObject& sceneObject, Scene* proxyFor, Scene& target,
                 const std::string& source) {
    // The first record, in file order, whose name ends with the usemtl text; the default otherwise.
    const MtlMaterial* record = nullptr;
    if (object.materialText) {
        const int found = findMaterialByEnding(object.materials, *object.materialText);
        record = found >= 0 ? &object.materials[static_cast<std::size_t>(found)] : nullptr;
    }
    const Material* material = buildMaterial(target, record);

    const std::int32_t vertexBase = smallestIndex(object.faces, &ObjFace::vertex);
    const std::int32_t normalBase = smallestIndex(object.faces, &ObjFace::normal);
    const std::int32_t texCoordBase = smallestIndex(object.faces, &ObjFace::texCoord);

    // Every corner is checked and given its vertex before any vertex exists: the vertex count is known
    // only then, and the vertices must not move once triangles point at them.
    CornerVertices split(object.vertices.size());
    std::vector<std::array<std::int32_t, 3>> faceVertices;
    faceVertices.reserve(object.faces.size());
    for (const ObjFace& face : object.faces) {
        if (face.cornerCount < 3) {
            throw FatalError(source + ": a face has " + std::to_string(face.cornerCount) +
                             " corners; at least 3 are needed");
        }
        CornerKey cornerKeys[3];
        for (int k = 0; k < 3; ++k) {
            cornerKeys[k].position =
                localIndex(face.vertex[k], vertexBase, object.vertices.size(), "vertex", "vertices", source);
        }
        for (int k = 0; k < 3; ++k) {
            if (face.normal[k] >= 0) {
                cornerKeys[k].normal = localIndex(face.normal[k], normalBase, object.normals.size(), "normal",
                                                  "normals", source);
            }
            if (face.texCoord[k] >= 0) {
                cornerKeys[k].texCoord = localIndex(face.texCoord[k], texCoordBase, object.texCoords.size(),
                                                    "texture coordinate", "texture coordinates", source);
            }
        }
        faceVertices.push_back(
            {split.vertexOf(cornerKeys[0]), split.vertexOf(cornerKeys[1]), split.vertexOf(cornerKeys[2])});
    }

    const std::vector<CornerKey>& keys = split.vertices();
    sceneObject.allocateVertices(static_cast<int>(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        for (Vertex* vertex : {sceneObject.vertices[i], sceneObject.restVertices[i]}) {
            vertex->position = toVector(object.vertices[static_cast<std::size_t>(keys[i].position)]);
            if (keys[i].normal >= 0) {
                vertex->normal = toVector(object.normals[static_cast<std::size_t>(keys[i].normal)]);
            }
            if (keys[i].texCoord >= 0) {
                const ObjVector& t = object.texCoords[static_cast<std::size_t>(keys[i].texCoord)];
                vertex->u = static_cast<float>(t.x);
                vertex->v = static_cast<float>(t.y);
            }
        }
    }

    sceneObject.firstPrimitive = target.primitiveCount();
    const bool environment = object.groupName && object.groupName->find("envOBJ3D") != std::string::npos;
    const std::int32_t type = proxyFor != nullptr ? Primitive::proxy
                              : environment       ? Primitive::environment
                                                  : Primitive::lit;
    // One block for the object's triangles, reserved whole so that they never move.
    auto* triangles = target.create<std::vector<Triangle>>();
    triangles->reserve(faceVertices.size());
    for (const std::array<std::int32_t, 3>& corners : faceVertices) {
        Triangle* triangle = &triangles->emplace_back(type, sceneObject.vertices[corners[0]],
                                                      sceneObject.vertices[corners[1]], sceneObject.vertices[corners[2]]);
        // The constructor wrote the face normal into the current copies: a vertex with a normal of its
        // own takes it back from the rest copy, one without keeps the face normal in both.
        for (const std::int32_t i : corners) {
            Vertex& current = *sceneObject.vertices[i];
            Vertex& rest = *sceneObject.restVertices[i];
            if (keys[i].normal >= 0) {
                current.normal = rest.normal;
            } else {
                rest.normal = current.normal;
            }
        }
        if (proxyFor != nullptr) {
            triangle->owner = &sceneObject;
        } else {
            triangle->material = material;
        }
        target.primitives.push_back(triangle);
    }
    sceneObject.endPrimitive = target.primitiveCount();
}

} // namespace Raytracer
