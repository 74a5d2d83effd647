#include "tools/import/Handedness.h"

#include <utility>

namespace Raytracer::Import {

namespace {

// x -> -x turns a rotation R into M R M with M = diag(-1, 1, 1): about x it stays, about y and z it
// reverses, and Rz Ry Rx keeps its order.
void mirrorRotation(std::array<float, 3>& angles) {
    angles[1] = -angles[1];
    angles[2] = -angles[2];
}

} // namespace

void mirrorToViewerSpace(msModel& model) {
    for (MsVertex& vertex : model.vertices) {
        vertex.position[0] = -vertex.position[0];
    }
    for (MsTriangle& triangle : model.triangles) {
        for (std::array<float, 3>& normal : triangle.vertexNormals) {
            normal[0] = -normal[0];
        }
        std::swap(triangle.vertexIndices[1], triangle.vertexIndices[2]);
        std::swap(triangle.vertexNormals[1], triangle.vertexNormals[2]);
        std::swap(triangle.s[1], triangle.s[2]);
        std::swap(triangle.t[1], triangle.t[2]);
    }
    for (MsJoint& joint : model.joints) {
        mirrorRotation(joint.rotation);
        joint.position[0] = -joint.position[0];
        for (MsKeyframe& key : joint.rotationKeys) {
            mirrorRotation(key.value);
        }
        for (MsKeyframe& key : joint.positionKeys) {
            key.value[0] = -key.value[0];
        }
    }
}

} // namespace Raytracer::Import
