#include "scene/MeshBuilder.h"

#include "geometry/Triangle.h"
#include "scene/MaterialBuilder.h"
#include "scene/ObjModel.h"
#include "scene/ObjParser.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "shading/Map.h"
#include "shading/Material.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <tuple>

namespace Raytracer {
namespace {

float channel(const Map* map, int c) {
    float out[3] = {-1.0f, -1.0f, -1.0f};
    return map->lookup(out, 0.5f, 0.5f, 0.0f)[c];
}

TEST(MeshBuilder, FacesMapFileIndicesToTheObjectsListsAndTakeTheFirstUsableMaterial) {
    // A later object of its file: its faces count positions from 10, normals from 5 and texture
    // coordinates from 7. The quad's fourth corner points back into an earlier object: only the first
    // three corners count.
    ObjModel model;
    model.vertices = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {2, 2, 0}};
    model.normals = {{1, 0, 0}, {0, 1, 0}, {0.6, 0.8, 0}};
    model.texCoords = {{0.1, 0.2, 0}, {0.3, 0.4, 0}, {0.5, 0.6, 0}};
    model.faces = {
        {.vertex = {10, 11, 12, -1}, .normal = {5, 5, 5, -1}, .texCoord = {7, 8, 9, -1}, .cornerCount = 3},
        {.vertex = {11, 13, 12, 0}, .normal = {6, -1, 7, 0}, .texCoord = {9, 7, -1, 0}, .cornerCount = 4}};
    model.materials.resize(3);
    model.materials[0].name = "wood2";
    model.materials[1].name = "darkwood";
    model.materials[1].Kd = {0.1, 0.7, 0.1};
    model.materials[2].name = "wood";
    model.materialText = "wood";
    Scene target;
    SceneObject object;
    object.ownerScene = &target;
    buildObject(model, object, nullptr, target, "test.obj, object testOBJ3D");
    ASSERT_EQ(2, target.primitiveCount());
    const auto* first = static_cast<const Triangle*>(target.primitives[0]);
    const auto* second = static_cast<const Triangle*>(target.primitives[1]);
    // The second face meets positions 1 and 2 with other values: two vertices more, after the positions.
    EXPECT_EQ(std::tuple(object.vertices[4], object.vertices[3], object.vertices[5]),
              std::tuple(second->a, second->b, second->c));
    const std::tuple<Vector3, Vector3, float, float> rows[] = {
        {{0, 0, 0}, {1, 0, 0}, 0.1f, 0.2f},
        {{2, 0, 0}, {1, 0, 0}, 0.3f, 0.4f},
        {{0, 2, 0}, {1, 0, 0}, 0.5f, 0.6f},
        {{2, 2, 0}, {0, 0, -1}, 0.1f, 0.2f}, // no normal: the unit face normal
        {{2, 0, 0}, {0, 1, 0}, 0.5f, 0.6f},
        {{0, 2, 0}, {0.6f, 0.8f, 0}, 0, 0}}; // no texture coordinates: (0, 0)
    ASSERT_EQ(6, object.vertexCount());
    for (std::size_t i = 0; i < 6; ++i) {
        for (const Vertex* vertex : {object.vertices[i], object.restVertices[i]}) {
            EXPECT_EQ(rows[i], std::tuple(vertex->position, vertex->normal, vertex->u, vertex->v)) << i;
        }
    }
    // The material is the first whose name ends with the usemtl text: darkwood, not wood2 or wood.
    EXPECT_EQ(first->material, second->material);
    EXPECT_EQ(0.7f, channel(materialOf(*first).color, 1));
}

Vector3 toVector(const ObjVector& v) {
    return Vector3(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z));
}

// Every corner of every triangle must carry the position, normal and texture coordinates its own face
// gives it (a corner without a normal: the face normal; without texture coordinates: (0, 0)), and each
// position keeps vertex slot i.
TEST(MeshBuilder, EachDistinctCornerCombinationIsAVertexOfItsOwn) {
    struct Row {
        const char* name;
        std::string obj;
        int vertexCount;
    };
    const Row rows[] = {
        // A box as modelling tools write it: every position meets three faces with three normals.
        {"box",
         "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 0 0 1\nv 1 0 1\nv 0 1 1\nv 1 1 1\n"
         "vn -1 0 0\nvn 1 0 0\nvn 0 -1 0\nvn 0 1 0\nvn 0 0 -1\nvn 0 0 1\n"
         "f 1//1 5//1 7//1\nf 1//1 7//1 3//1\nf 2//2 4//2 8//2\nf 2//2 8//2 6//2\n"
         "f 1//3 2//3 6//3\nf 1//3 6//3 5//3\nf 3//4 7//4 8//4\nf 3//4 8//4 4//4\n"
         "f 1//5 3//5 4//5\nf 1//5 4//5 2//5\nf 5//6 6//6 8//6\nf 5//6 8//6 7//6\n",
         24},
        // A texture seam at position 2; position 5, which no face uses, keeps its slot.
        {"seam",
         "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 7 7 7\nvt 0 0\nvt 1 0\nvt 0 1\nvt 1 1\nvt 0.5 0.5\n"
         "f 1/1 2/2 3/3\nf 2/5 4/4 3/3\n",
         6},
        // A corner without a normal is another combination than one with: the second face, wound the
        // other way, must not turn the first one's normals.
        {"mixed", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 -1\nf 1//1 2//1 3//1\nf 1 3 2\n", 6},
    };
    for (Row row : rows) {
        std::FILE* file = fmemopen(row.obj.data(), row.obj.size(), "r");
        const ObjModel model = ObjParser(file, "test.obj", "").readObjFile().header;
        std::fclose(file);
        Scene target;
        SceneObject object;
        object.ownerScene = &target;
        buildObject(model, object, nullptr, target, "test.obj");
        EXPECT_EQ(row.vertexCount, object.vertexCount()) << row.name;
        for (std::size_t i = 0; i < model.vertices.size(); ++i) {
            EXPECT_EQ(toVector(model.vertices[i]), object.restVertices[i]->position) << row.name << " " << i;
        }
        ASSERT_EQ(model.faces.size(), target.primitives.size()) << row.name;
        const auto at = [](const auto& list, std::int32_t i) { return list[static_cast<std::size_t>(i)]; };
        for (std::size_t f = 0; f < model.faces.size(); ++f) {
            const ObjFace& face = model.faces[f];
            const auto* triangle = static_cast<const Triangle*>(target.primitives[f]);
            const Vertex* const corners[3] = {triangle->a, triangle->b, triangle->c};
            for (int k = 0; k < 3; ++k) {
                const ObjVector uv =
                    face.texCoord[k] >= 0 ? at(model.texCoords, face.texCoord[k]) : ObjVector{};
                const auto wanted = std::tuple(
                    toVector(at(model.vertices, face.vertex[k])),
                    face.normal[k] >= 0 ? toVector(at(model.normals, face.normal[k])) : triangle->normal,
                    static_cast<float>(uv.x), static_cast<float>(uv.y));
                const auto slot = static_cast<std::size_t>(
                    std::find(object.vertices.begin(), object.vertices.end(), corners[k]) -
                    object.vertices.begin());
                ASSERT_LT(slot, object.vertices.size());
                for (const Vertex* vertex : {object.vertices[slot], object.restVertices[slot]}) {
                    EXPECT_EQ(wanted, std::tuple(vertex->position, vertex->normal, vertex->u, vertex->v))
                        << row.name << " face " << f + 1 << " corner " << k;
                }
            }
        }
    }
}

TEST(MaterialBuilder, MtlKeysGiveTheSlotsAndNoRecordGivesTheDefault) {
    MtlMaterial glass;
    glass.Ka = {0.05, 0.6, 0.4};
    glass.Kd = {0.1, 0.5, 0.9};
    glass.Ks = {0.7, 0.2, 0.3};
    glass.d = 0.6;
    glass.Ns = 30;
    glass.Ni = 1.33;
    // Green of the colour, then reflectivity, transparency, diffuse, specular, blur, refractive index.
    const std::pair<const MtlMaterial*, std::array<float, 7>> rows[] = {
        {&glass, {0.5f, 0.3f, 0.4f, 0.3f, 0.7f, 0.05f, 1.33f}}, {nullptr, {0.2f, 0, 0, 0.2f, 0.8f, 0, 1.5f}}};
    Scene owner;
    for (const auto& [record, slots] : rows) {
        const Material& m = *buildMaterial(owner, record);
        const std::array<const Map*, 7> maps{m.color,    m.reflectivity,   m.transparency,   m.diffuse,
                                             m.specular, m.reflectionBlur, m.refractionIndex};
        for (std::size_t i = 0; i < 7; ++i) {
            EXPECT_NEAR(slots[i], channel(maps[i], i == 0 ? 1 : 0), 1e-6f) << i;
        }
        EXPECT_TRUE(m.colorTexture == nullptr && m.reflectivityTexture == nullptr);
    }
}

} // namespace
} // namespace Raytracer
