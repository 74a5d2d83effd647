#include "scene/MeshBuilder.h"

#include "geometry/Triangle.h"
#include "shading/Material.h"
#include "scene/MaterialBuilder.h"
#include "scene/ObjModel.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "shading/Map.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

namespace Raytracer {
namespace {

float channel(const Map* map, int c) {
    float out[3] = {-1.0f, -1.0f, -1.0f};
    return map->lookup(out, 0.5f, 0.5f, 0.0f)[c];
}

TEST(MeshBuilder, FacesMapFileIndicesToTheObjectsListsAndSharedVerticesKeepTheLastFace) {
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
    EXPECT_EQ(std::tuple(object.vertices[1], object.vertices[3], object.vertices[2]),
              std::tuple(second->a, second->b, second->c));
    const std::tuple<Vector3, float, float> rows[] = {
        {{1, 0, 0}, 0.1f, 0.2f},
        {{0, 1, 0}, 0.5f, 0.6f},       // the second face's values win
        {{0.6f, 0.8f, 0}, 0.5f, 0.6f}, // no texture coordinates: the first face's stay
        {{0, 0, -1}, 0.1f, 0.2f}};     // no normal: the unit face normal stays
    for (std::size_t i = 0; i < 4; ++i) {
        for (const Vertex* vertex : {object.vertices[i], object.restVertices[i]}) {
            EXPECT_EQ(rows[i], std::tuple(vertex->normal, vertex->u, vertex->v)) << i;
        }
    }
    EXPECT_EQ(Vector3(2, 2, 0), object.restVertices[3]->position);
    // The material is the first whose name ends with the usemtl text: darkwood, not wood2 or wood.
    EXPECT_EQ(first->material, second->material);
    EXPECT_EQ(0.7f, channel(materialOf(*first).color, 1));
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
