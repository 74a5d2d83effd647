#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "render/BucketWorker.h"
#include "render/RenderSettings.h"
#include "shading/Material.h"
#include "scene/Scene.h"
#include "geometry/Vertex.h"
#include "shading/AreaLight.h"
#include "shading/ColorMap.h"
#include "shading/FloatMap.h"
#include "shading/PointLight.h"
#include "tests/support/RandomScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <utility>

namespace Raytracer {
namespace {

// The expected words and values come from an independent 64-bit model of the seeding, the MT19937
// recurrence over 65536 words and the tempering.
TEST(Twister, KnownOutputsForTheWorkerSeed) {
    Twister twister;
    // A pair is two neighbouring words at the seed's 16-bit fold, wrapping at the table's end, here as
    // seeding left them; a unit square light shows it as its x and y.
    AreaLight unit({0, 0, 0}, {1, 1, 1}, {1, 0, 0}, {0, 1, 0});
    const auto pair = [&](std::uint32_t seed) { return unit.samplePoint(twister, seed); };
    EXPECT_EQ(Vector3(0.297108024f, 0.206157044f, 0), pair(0u));
    EXPECT_EQ(Vector3(0.0268776305f, 0.297108024f, 0), pair(0x0000FFFFu));
    EXPECT_EQ(Vector3(0.117091186f, 0.0268776305f, 0), pair(0xFFFF0001u));
    EXPECT_EQ(Vector3(0.672493041f, 0.540146947f, 0), pair(0x12345678u));

    EXPECT_EQ(1122427855u, twister.nextUint());
    // Every further word of the first two tables, the wrapped-around steps of a regeneration included.
    std::uint32_t hash = 0;
    for (int i = 1; i < 2 * Twister::stateSize; ++i) {
        hash = hash * 31u + twister.nextUint();
    }
    EXPECT_EQ(42852445u, hash);
    EXPECT_EQ(0.71962595f, twister.nextFloat());
    // From 2^32 - 128 up a word rounds to exactly 1; 2^32 - 129 to the float below it.
    EXPECT_EQ(1.0f, Twister::toUnit(0xFFFFFF80u));
    EXPECT_EQ(1.0f - 1.0f / 16777216.0f, Twister::toUnit(0xFFFFFF7Fu));
}

// Hands out one fixed pair, as the table would for some seed.
class FixedPair final : public RandomGenerator {
  public:
    FixedPair(float a, float b) : ab(a, b) {}
    void setSeed(std::uint32_t) override {}
    void samplePair(std::uint32_t, float& a, float& b) const override { std::tie(a, b) = ab; }
    float nextFloat() override { return 0.0f; }
    std::uint32_t nextUint() override { return 0u; }
    std::pair<float, float> ab;
};

TEST(AreaLight, SamplesLandOnTheParallelogramOfItsEdges) {
    AreaLight light({1, 2, 3}, {1, 1, 1}, {4, 0, -2}, {0, 8, 4});
    const auto at = [&](FixedPair generator, std::uint32_t seed = 7u) {
        return light.samplePoint(generator, seed);
    };
    EXPECT_EQ(Vector3(5, 2, 1), at({1, 0}));
    EXPECT_EQ(Vector3(1, 10, 7), at({0, 1}));
    EXPECT_EQ(Vector3(3, 4, 3), at({0.5f, 0.25f}));
}

void expectColorNear(const Color& expected, const Color& actual) {
    EXPECT_NEAR(expected.r, actual.r, 1e-5f);
    EXPECT_NEAR(expected.g, actual.g, 1e-5f);
    EXPECT_NEAR(expected.b, actual.b, 1e-5f);
}

// Hand-built scenes traced by a worker that has no thread: every call runs on the test's thread.
class TraceTest : public ::testing::Test {
  protected:
    // A material of the given colour whose weights are 0 but for those given.
    Material* material(const Color& color,
                       std::initializer_list<std::pair<const Map * Material::*, float>> weights) {
        Material* m = scene.create<Material>();
        m->color = scene.create<ColorMap>(color);
        m->diffuse = m->specular = m->reflectivity = m->transparency = m->reflectionBlur =
            scene.create<FloatMap>(0);
        for (const auto& [slot, value] : weights) {
            m->*slot = scene.create<FloatMap>(value);
        }
        return m;
    }

    // The square of side 2 * half about centre, across the axis (0 x, 1 y, 2 z) and facing along it
    // (facing 1) or against it (-1). As in mesh files, the corners run counter-clockwise seen from the
    // side the vertex normals face, which puts the triangles' own normal, and so the facing that
    // refraction relies on, the other way.
    void addSquare(const Vector3& centre, float half, int axis, float facing, const Material* m,
                   int type = Primitive::lit) {
        Vector3 n, u, v;
        n[axis] = facing;
        u[(axis + 1) % 3] = half;
        v[(axis + 2) % 3] = half * facing;
        for (Triangle* t : {addTriangle(scene, centre - u - v, centre + u - v, centre + u + v, type),
                            addTriangle(scene, centre - u - v, centre + u + v, centre - u + v, type)}) {
            t->material = m;
            t->a->normal = t->b->normal = t->c->normal = n;
        }
    }

    // A call as the renderer makes it for a primary ray with the default settings, from any depth; counts
    // rays afresh. The first call builds the tree, so the scene must be complete by then.
    Color trace(const Ray& ray, int depth = 1) {
        if (scene.accelerator == nullptr) {
            scene.boundsMin = Vector3(-200, -200, -200);
            scene.boundsSize = Vector3(400, 400, 400);
            scene.accelerator = tree;
            tree->build(scene);
        }
        Color result;
        float distance;
        worker.raysCast = 0;
        worker.trace(ray, result, depth, 1.0f, distance, 8, 16, 1.0f / 8, 1.0f / 16);
        return result;
    }

    Scene scene;
    KdPool pool;
    KdTree* tree = scene.create<KdTree>(pool);
    RenderSettings settings;
    // Tracing reads neither the camera nor the counters.
    BucketWorker worker{&scene, 16, 0, 0, nullptr, 16, 16, nullptr, &settings, nullptr};
};

// Floor colour (0.8, 0.6, 0.4), diffuse 0.5, specular 0.8, under a light of colour (1, 0.5, 0.25) at
// (0, 4, 0), hit below it and at (-3, 0, 0). Diffuse is 0.5 * cosine * (0.8, 0.3, 0.1); seen along the
// mirror direction the highlight adds 0.8 times the light's colour.
TEST_F(TraceTest, LitFloorTakesTheCosineAndTheHighlight) {
    addSquare({0, 0, 0}, 10, 1, 1,
              material({0.8f, 0.6f, 0.4f}, {{&Material::diffuse, 0.5f}, {&Material::specular, 0.8f}}));
    scene.lights.push_back(scene.create<PointLight>(Vector3(0, 4, 0), Color(1, 0.5f, 0.25f)));
    expectColorNear({0.4f + 0.8f, 0.15f + 0.4f, 0.05f + 0.2f}, trace(Ray{{0, 5, 0}, {0, -1, 0}}));
    expectColorNear({0.32f + 0.8f, 0.12f + 0.4f, 0.04f + 0.2f}, trace(Ray{{-6, 4, 0}, {0.6f, -0.8f, 0}}));
    EXPECT_EQ(1u, worker.raysCast); // the shadow ray
}

// A tilted area light (edges (2, -1, 1) and (-1, 1, 2) from (0, 4, -3)) over the floor at the origin,
// with a blocker 0.05 above the light's plane: every sample on the parallelogram is seen, so the 16
// shadow rays pass and the floor is lit as by a point light at the corner (cosine 0.8), but a sample
// that strays off the plane to the far side is blocked. No edge lies along an axis, so taking one
// edge's weight for the other's in any coordinate moves samples off the plane.
TEST_F(TraceTest, TiltedAreaLightSamplesStayOnItsPlane) {
    addSquare({0, 0, 0}, 10, 1, 1, material({1, 1, 1}, {{&Material::diffuse, 0.5f}}));
    const Vector3 corner(0, 4, -3), edgeU(2, -1, 1), edgeV(-1, 1, 2);
    const Vector3 lift = corner + Vector3(0, 0.05f, 0);
    const Material* blocker = material({1, 1, 1}, {});
    for (Triangle* t :
         {addTriangle(scene, lift - edgeU - edgeV, lift + edgeU * 2 - edgeV, lift + (edgeU + edgeV) * 2),
          addTriangle(scene, lift - edgeU - edgeV, lift + (edgeU + edgeV) * 2, lift - edgeU + edgeV * 2)}) {
        t->material = blocker;
    }
    scene.lights.push_back(scene.create<AreaLight>(corner, Color(1, 0.5f, 0.25f), edgeU, edgeV));
    expectColorNear({0.4f, 0.2f, 0.1f}, trace(Ray{{0, 1, 0}, {0, -1, 0}}));
    EXPECT_EQ(16u, worker.raysCast);
}

// A mirror floor of colour (0.5, 1, 1) and reflectivity 0.6 seen at 45 degrees, facing an unlit wall of
// colour (0.2, 0.7, 0.3): the mirror ray brings the wall's colour tinted by the floor's and scaled by the
// reflectivity and its texture, but not at the trace depth (6). Blurred, every jittered ray still sees the
// wall, so the samples' weights add up to the same; depths 1 and 2 blur with two draws per sample, from 3 on
// it is a mirror again.
TEST_F(TraceTest, MirrorShowsTheWallTintedAndScaledAlsoWhenBlurred) {
    Material* mirror = material({0.5f, 1, 1}, {{&Material::reflectivity, 0.6f}});
    addSquare({0, 0, 0}, 10, 1, 1, mirror);
    addSquare({0, 0, 10}, 50, 2, -1, material({0.2f, 0.7f, 0.3f}, {}), Primitive::environment);
    const Ray ray{{0, 5, 0}, {0, -std::sqrt(0.5f), std::sqrt(0.5f)}};
    expectColorNear({0.06f, 0.42f, 0.18f}, trace(ray));
    EXPECT_EQ(1u, worker.raysCast);
    expectColorNear({0, 0, 0}, trace(ray, 6));
    EXPECT_EQ(0u, worker.raysCast);

    mirror->reflectivityTexture = scene.create<FloatMap>(0.5f);
    mirror->reflectionBlur = scene.create<FloatMap>(0.1f);
    for (const int depth : {1, 2, 3}) {
        expectColorNear({0.03f, 0.21f, 0.09f}, trace(ray, depth));
        EXPECT_EQ(depth < 3 ? 8u : 1u, worker.raysCast) << depth;
        EXPECT_EQ(depth < 3 ? 16 * depth : 32, worker.random->index) << depth;
    }
}

// A glass slab z in [2, 3] of index 1.5 and colour (0.1, 0.2, 0.3) before an unlit white wall at z = 10.
TEST_F(TraceTest, GlassAbsorbsAlongTheWay) {
    const Material* glass =
        material({0.1f, 0.2f, 0.3f}, {{&Material::transparency, 1}, {&Material::refractionIndex, 1.5f}});
    addSquare({0, 0, 2}, 1, 2, -1, glass);
    addSquare({0, 0, 3}, 1, 2, 1, glass);
    addSquare({0, 0, 10}, 5, 2, -1, material({1, 1, 1}, {}), Primitive::environment);
    // 0.15 times the colour absorbs per unit of length, inside from just past the front face to the back
    // face, and from the back face (where the ratio of indices is 1) to the wall.
    const float path = (3.0f - 2.0001f) + (10.0f - 3.0001f);
    expectColorNear({std::exp(-0.015f * path), std::exp(-0.03f * path), std::exp(-0.045f * path)},
                    trace(Ray{{0.3f, 0.2f, 0}, {0, 0, 1}}));
    EXPECT_EQ(2u, worker.raysCast);
}

} // namespace
} // namespace Raytracer
