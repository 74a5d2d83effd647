#include "scene/MeshBuilder.h"

#include "geometry/Triangle.h"
#include "math/FatalError.h"
#include "scene/MaterialBuilder.h"
#include "scene/ObjModel.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "shading/Material.h"

#include <algorithm>
#include <string>

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

} // namespace

void buildObject(const ObjModel& object, SceneObject& sceneObject, Scene* proxyFor, Scene& target,
                 const std::string& source) {
    sceneObject.allocateVertices(static_cast<int>(object.vertices.size()));

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

    for (std::size_t i = 0; i < object.vertices.size(); ++i) {
        const ObjVector& v = object.vertices[i];
        const Vector3 position(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z));
        sceneObject.vertices[i]->position = position;
        sceneObject.restVertices[i]->position = position;
    }

    sceneObject.firstPrimitive = target.primitiveCount();
    const bool environment = object.groupName && object.groupName->find("envOBJ3D") != std::string::npos;
    const std::int32_t type = proxyFor != nullptr ? Primitive::proxy
                              : environment       ? Primitive::environment
                                                  : Primitive::lit;
    for (const ObjFace& face : object.faces) {
        if (face.cornerCount < 3) {
            throw FatalError(source + ": a face has " + std::to_string(face.cornerCount) +
                             " corners; at least 3 are needed");
        }
        std::int32_t corners[3];
        for (int k = 0; k < 3; ++k) {
            corners[k] =
                localIndex(face.vertex[k], vertexBase, object.vertices.size(), "vertex", "vertices", source);
        }
        Triangle* triangle =
            target.create<Triangle>(type, sceneObject.vertices[corners[0]], sceneObject.vertices[corners[1]],
                                    sceneObject.vertices[corners[2]]);
        // The constructor wrote the face normal into the current copies; the file's values win where
        // it has them, and both copies always agree.
        for (int k = 0; k < 3; ++k) {
            Vertex& current = *sceneObject.vertices[corners[k]];
            Vertex& rest = *sceneObject.restVertices[corners[k]];
            if (face.normal[k] >= 0) {
                const ObjVector& n = object.normals[localIndex(
                    face.normal[k], normalBase, object.normals.size(), "normal", "normals", source)];
                current.normal =
                    Vector3(static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z));
            }
            rest.normal = current.normal;
            if (face.texCoord[k] >= 0) {
                const ObjVector& t =
                    object.texCoords[localIndex(face.texCoord[k], texCoordBase, object.texCoords.size(),
                                                "texture coordinate", "texture coordinates", source)];
                current.u = static_cast<float>(t.x);
                current.v = static_cast<float>(t.y);
            }
            rest.u = current.u;
            rest.v = current.v;
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
