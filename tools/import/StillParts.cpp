#include "tools/import/StillParts.h"

#include "tools/import/MeshVertices.h"

#include <cmath>

namespace Raytracer::Import {

namespace {

using Point = Scenegen::Mesh::Point;

Point mirrored(const aiVector3D& v) {
    return {-static_cast<double>(v.x), v.y, v.z};
}

Point minus(const Point& a, const Point& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

Point cross(const Point& a, const Point& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double length(const Point& p) {
    return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
}

} // namespace

StillParts gatherStillParts(const aiScene& scene, const std::vector<ImportedMaterial>& materials) {
    StillParts still;
    std::vector<Scenegen::Mesh> byMaterial(materials.size());
    std::vector<MeshVertices> vertices;
    for (Scenegen::Mesh& mesh : byMaterial) {
        vertices.emplace_back(mesh);
    }
    const std::size_t fallback = materials.size() - 1;
    for (unsigned int m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh& mesh = *scene.mMeshes[m];
        const std::size_t material = mesh.mMaterialIndex < fallback ? mesh.mMaterialIndex : fallback;
        const bool textured = !materials[material].textureBytes.empty() && mesh.HasTextureCoords(0);
        for (unsigned int f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices != 3) {
                continue;
            }
            // Reversed with the mirror, so that the corners still turn counter-clockwise from the front.
            const unsigned int corners[3] = {face.mIndices[0], face.mIndices[2], face.mIndices[1]};
            const Point area =
                cross(minus(mirrored(mesh.mVertices[corners[1]]), mirrored(mesh.mVertices[corners[0]])),
                      minus(mirrored(mesh.mVertices[corners[2]]), mirrored(mesh.mVertices[corners[0]])));
            const double twiceArea = length(area);
            if (!(twiceArea > 0.0) || !std::isfinite(twiceArea)) {
                ++still.flatTriangles;
                continue;
            }
            const Point faceNormal = {area.x / twiceArea, area.y / twiceArea, area.z / twiceArea};
            int index[3];
            for (int k = 0; k < 3; ++k) {
                const unsigned int v = corners[k];
                Point normal = mesh.HasNormals() ? mirrored(mesh.mNormals[v]) : faceNormal;
                const double l = length(normal);
                normal = l > 0.0 && std::isfinite(l) ? Point{normal.x / l, normal.y / l, normal.z / l}
                                                     : faceNormal;
                const Scenegen::Mesh::TexCoord uv =
                    textured ? materials[material].texCoord(mesh.mTextureCoords[0][v].x,
                                                            1.0f - mesh.mTextureCoords[0][v].y)
                             : Scenegen::Mesh::TexCoord{};
                index[k] = vertices[material].index(mirrored(mesh.mVertices[v]), normal, uv);
            }
            byMaterial[material].addTriangle(index[0], index[1], index[2]);
        }
    }
    for (std::size_t i = 0; i < byMaterial.size(); ++i) {
        if (!byMaterial[i].triangles.empty()) {
            still.parts.push_back({std::move(byMaterial[i]), i});
        }
    }
    return still;
}

} // namespace Raytracer::Import
