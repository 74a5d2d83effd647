#include "shading/PhongShading.h"

#include "geometry/Triangle.h"
#include "scene/Material.h"
#include "scene/Scene.h"
#include "shading/ColorMap.h"
#include "shading/FloatMap.h"
#include "shading/PointLight.h"
#include "tests/support/RandomScene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Raytracer {
namespace {

// A triangle whose material has the given diffuse and specular weights; the shading reads only these.
class PhongShadingTest : public ::testing::Test {
  protected:
    PhongShadingTest() {
        material.color = scene.create<ColorMap>(Color(1.0f, 1.0f, 1.0f));
        material.diffuse = diffuse = scene.create<FloatMap>(0.5f);
        material.specular = specular = scene.create<FloatMap>(0.8f);
        primitive = addTriangle(scene, {0, 0, 0}, {1, 0, 0}, {0, 0, 1});
        primitive->material = &material;
    }

    Scene scene;
    Material material;
    FloatMap* diffuse;
    FloatMap* specular;
    Triangle* primitive;
    PhongShading phong;
    const Shading& shading = phong;
    PointLight white{{0, 10, 0}, {1.0f, 1.0f, 1.0f}};
    const Vector3 up{0, 1, 0};
};

TEST_F(PhongShadingTest, DiffuseOfTheWorkedExample) {
    float vis = 1.0f;
    Color result;
    shading.diffuseTerm(up, up, vis, white, *primitive, Color(1.0f, 0.5f, 0.0f), result);
    EXPECT_EQ(Color(0.5f, 0.25f, 0.0f), result);
}

TEST_F(PhongShadingTest, DiffuseFollowsTheCosineTheVisibilityAndTheLightColour) {
    // 60 degrees off the normal: cosine 0.5.
    const Vector3 L(std::sqrt(0.75f), 0.5f, 0.0f);
    const PointLight light({0, 10, 0}, {0.8f, 0.6f, 0.4f});
    float vis = 0.5f;
    Color result(0.1f, 0.2f, 0.3f); // the term is added to what is there
    shading.diffuseTerm(L, up, vis, light, *primitive, Color(1.0f, 0.5f, 0.25f), result);
    const float x = 0.5f * 0.5f * 0.5f; // cosine * diffuse * visibility
    EXPECT_NEAR(0.1f + x * 1.0f * 0.8f, result.r, 1e-7f);
    EXPECT_NEAR(0.2f + x * 0.5f * 0.6f, result.g, 1e-7f);
    EXPECT_NEAR(0.3f + x * 0.25f * 0.4f, result.b, 1e-7f);
}

TEST_F(PhongShadingTest, NoDiffuseFromTheHorizonOrFromBehind) {
    float vis = 1.0f;
    Color result(0.1f, 0.1f, 0.1f);
    shading.diffuseTerm(Vector3(1, 0, 0), up, vis, white, *primitive, Color(1, 1, 1), result);
    shading.diffuseTerm(normalize(Vector3(1, -1, 0)), up, vis, white, *primitive, Color(1, 1, 1), result);
    EXPECT_EQ(Color(0.1f, 0.1f, 0.1f), result);
}

TEST_F(PhongShadingTest, HighlightAtTheMirrorDirectionIsTheSpecularWeight) {
    // Light straight above, viewer straight above looking down: s = 1, weight ks * vis / 1.
    const Ray ray{{0, 5, 0}, {0, -1, 0}};
    const PointLight light({0, 10, 0}, {1.0f, 0.5f, 0.25f});
    float vis = 0.5f;
    Color result;
    shading.specularTerm(ray, *primitive, light, up, up, vis, result);
    // The surface colour plays no part: the highlight has the light's colour.
    EXPECT_EQ(Color(0.4f * 1.0f, 0.4f * 0.5f, 0.4f * 0.25f), result);
}

TEST_F(PhongShadingTest, HighlightAtCosineNineTenthsIsItsRationalWeight) {
    const float sine = std::sqrt(1.0f - 0.81f);
    const Ray ray{{0, 5, 0}, {sine, -0.9f, 0.0f}};
    float vis = 1.0f;
    Color result;
    shading.specularTerm(ray, *primitive, white, up, up, vis, result);
    // 0.9 / (50 - 45 + 0.9) = 0.1525..., times ks.
    const float expected = 0.9f / 5.9f * 0.8f;
    EXPECT_NEAR(expected, result.r, 1e-7f);
    EXPECT_NEAR(0.122034f, result.r, 1e-6f);
    EXPECT_EQ(result.r, result.g);
    EXPECT_EQ(result.r, result.b);
    // Far above the true power 50 (0.005): the stand-in is a broader highlight.
    EXPECT_GT(result.r, 10.0f * 0.8f * std::pow(0.9f, 50.0f));
}

TEST_F(PhongShadingTest, NoHighlightAwayFromTheMirrorDirection) {
    float vis = 1.0f;
    Color result(0.1f, 0.1f, 0.1f);
    // Looking along the surface (s = 0) and looking up from below (s < 0).
    shading.specularTerm(Ray{{0, 5, 0}, {1, 0, 0}}, *primitive, white, up, up, vis, result);
    shading.specularTerm(Ray{{0, -5, 0}, {0, 1, 0}}, *primitive, white, up, up, vis, result);
    EXPECT_EQ(Color(0.1f, 0.1f, 0.1f), result);
}

TEST_F(PhongShadingTest, ReflectMirrorsTheDirectionWhicheverWayTheNormalFaces) {
    const Ray ray{{0, 0, 0}, {0, 0, 1}};
    EXPECT_EQ(Vector3(0, 0, -1), shading.reflect(ray, Vector3(0, 0, -1)));
    EXPECT_EQ(Vector3(0, 0, -1), shading.reflect(ray, Vector3(0, 0, 1)));

    const float h = std::sqrt(0.5f);
    const Vector3 r = shading.reflect(Ray{{0, 0, 0}, {h, -h, 0}}, up);
    EXPECT_NEAR(h, r.x, 1e-7f);
    EXPECT_NEAR(h, r.y, 1e-7f);
    EXPECT_EQ(0.0f, r.z);
}

TEST_F(PhongShadingTest, RefractWithoutAChangeOfMediumKeepsTheDirection) {
    const Ray ray{{0, 0, 0}, normalize(Vector3(1, -2, 0.5f))};
    float c = -dot(up, ray.direction);
    float k = 1.0f - 1.0f * (1.0f - c * c);
    const Vector3 t = shading.refract(ray, up, 1.0f, c, k);
    EXPECT_NEAR(ray.direction.x, t.x, 1e-7f);
    EXPECT_NEAR(ray.direction.y, t.y, 1e-7f);
    EXPECT_NEAR(ray.direction.z, t.z, 1e-7f);
}

TEST_F(PhongShadingTest, RefractAtNormalIncidenceGoesStraightOn) {
    const Ray ray{{0, 0, 0}, {0, 0, 1}};
    const Vector3 n(0, 0, -1);
    const float eta = 1.0f / 1.5f;
    float c = 1.0f;
    float k = 1.0f;
    const Vector3 t = shading.refract(ray, n, eta, c, k);
    EXPECT_EQ(0.0f, t.x);
    EXPECT_EQ(0.0f, t.y);
    EXPECT_NEAR(1.0f, t.z, 1e-7f);
}

TEST_F(PhongShadingTest, RefractObeysSnellsLaw) {
    // Into glass (1.5) from air at 45 degrees: sin 45 = 1.5 sin(theta_t).
    const float h = std::sqrt(0.5f);
    const Ray ray{{0, 0, 0}, {h, -h, 0}};
    const float eta = 1.0f / 1.5f;
    float c = -dot(up, ray.direction);
    float k = 1.0f - eta * eta * (1.0f - c * c);
    const Vector3 t = shading.refract(ray, up, eta, c, k);
    EXPECT_NEAR(1.0f, t.length(), 1e-6f);
    EXPECT_NEAR(h / 1.5f, t.x, 1e-6f);
    EXPECT_NEAR(-std::sqrt(1.0f - 0.5f / 2.25f), t.y, 1e-6f);
    EXPECT_EQ(0.0f, t.z);
}

} // namespace
} // namespace Raytracer
