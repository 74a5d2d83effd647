#include "tools/import/RigidParts.h"

#include "tools/import/MeshVertices.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace Raytracer::Import {

namespace {

using Point = Scenegen::Mesh::Point;

Point difference(const std::array<float, 3>& a, const std::array<float, 3>& b) {
    return {static_cast<double>(a[0]) - b[0], static_cast<double>(a[1]) - b[1],
            static_cast<double>(a[2]) - b[2]};
}

Point cross(const Point& a, const Point& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double length(const Point& p) {
    return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
}

// Twice the triangle's area times its unit normal, which points out of the side its corners turn
// counter-clockwise on.
Point areaNormal(const msModel& model, const MsTriangle& triangle) {
    const auto& v = triangle.vertexIndices;
    return cross(difference(model.vertices[v[1]].position, model.vertices[v[0]].position),
                 difference(model.vertices[v[2]].position, model.vertices[v[0]].position));
}

Point scaled(const Point& p, double s) {
    return {p.x * s, p.y * s, p.z * s};
}

// The file's corner normal made unit length; the face normal where it has no direction.
Point cornerNormal(const std::array<float, 3>& normal, const Point& faceNormal) {
    const Point n{normal[0], normal[1], normal[2]};
    const double l = length(n);
    return l > 0.0 && std::isfinite(l) ? scaled(n, 1.0 / l) : faceNormal;
}

// The tree joint of a corner: its bone's, or the root's when it is bound to none.
int cornerJoint(const msModel& model, const JointTree& tree, std::uint16_t vertex) {
    const int bone = model.vertices[vertex].boneId;
    return bone >= 0 && static_cast<std::size_t>(bone) < tree.fromSource.size()
               ? tree.fromSource[static_cast<std::size_t>(bone)]
               : 0;
}

std::size_t triangleMaterial(const msModel& model, const MsTriangle& triangle, std::size_t fallback) {
    if (triangle.groupIndex >= model.groups.size()) {
        return fallback;
    }
    const int material = model.groups[triangle.groupIndex].materialIndex;
    return material >= 0 && static_cast<std::size_t>(material) < fallback ? static_cast<std::size_t>(material)
                                                                          : fallback;
}

} // namespace

PartSplit splitIntoParts(const msModel& model, const JointTree& tree,
                         const std::vector<ImportedMaterial>& materials) {
    PartSplit split;
    split.parts.resize(tree.joints.size());
    const std::size_t fallback = materials.size() - 1;

    // First each triangle's joint, and each part's material by vote.
    std::vector<int> owner(model.triangles.size(), -1);
    std::vector<std::vector<std::size_t>> votes(tree.joints.size(),
                                                std::vector<std::size_t>(materials.size(), 0));
    for (std::size_t i = 0; i < model.triangles.size(); ++i) {
        const MsTriangle& triangle = model.triangles[i];
        const auto& v = triangle.vertexIndices;
        if (!(length(areaNormal(model, triangle)) > 0.0)) {
            ++split.flatTriangles;
            continue;
        }
        const int a = cornerJoint(model, tree, v[0]);
        const int b = cornerJoint(model, tree, v[1]);
        const int c = cornerJoint(model, tree, v[2]);
        owner[i] = (b == c && a != b) ? b : a;
        ++votes[static_cast<std::size_t>(owner[i])][triangleMaterial(model, triangle, fallback)];
    }
    for (std::size_t j = 0; j < split.parts.size(); ++j) {
        const auto& tally = votes[j];
        split.parts[j].material =
            static_cast<std::size_t>(std::max_element(tally.begin(), tally.end()) - tally.begin());
        split.mixedParts +=
            std::count_if(tally.begin(), tally.end(), [](std::size_t n) { return n > 0; }) > 1;
    }

    // Then the vertices: one per distinct position, normal and, where used, texture coordinate.
    std::vector<MeshVertices> seen;
    for (RigidPart& part : split.parts) {
        seen.emplace_back(part.mesh);
    }
    for (std::size_t i = 0; i < model.triangles.size(); ++i) {
        if (owner[i] < 0) {
            continue;
        }
        const MsTriangle& triangle = model.triangles[i];
        const auto& v = triangle.vertexIndices;
        RigidPart& part = split.parts[static_cast<std::size_t>(owner[i])];
        const ImportedMaterial& material = materials[part.material];
        const bool textured = !material.textureFile.empty();
        const Point area = areaNormal(model, triangle);
        const Point faceNormal = scaled(area, 1.0 / length(area));
        std::array<int, 3> corners{};
        for (int k = 0; k < 3; ++k) {
            const std::array<float, 3>& p = model.vertices[v[k]].position;
            const Point normal = cornerNormal(triangle.vertexNormals[k], faceNormal);
            const Scenegen::Mesh::TexCoord uv =
                textured ? material.texCoord(triangle.s[k], triangle.t[k]) : Scenegen::Mesh::TexCoord{};
            corners[static_cast<std::size_t>(k)] =
                seen[static_cast<std::size_t>(owner[i])].index({p[0], p[1], p[2]}, normal, uv);
        }
        part.mesh.addTriangle(corners[0], corners[1], corners[2]);
    }
    return split;
}

} // namespace Raytracer::Import
