#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "render/BucketWorker.h"
#include "render/Camera.h"
#include "render/RenderSettings.h"
#include "scene/Material.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "scene/Vertex.h"
#include "shading/AreaLight.h"
#include "shading/ColorMap.h"
#include "shading/FloatMap.h"
#include "shading/Map.h"
#include "shading/PointLight.h"
#include "shading/Twister.h"
#include "tests/support/RandomScene.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>
#include <utility>

namespace Raytracer {
namespace {

// Shows a surface's texture coordinates: (s, t, 1).
class CoordinateMap final : public Map {
  public:
    const float* lookup(float* out, float s, float t, float) const override {
        out[0] = s;
        out[1] = t;
        out[2] = 1.0f;
        return out;
    }
};

struct Surface {
    Color color{1.0f, 1.0f, 1.0f};
    float diffuse = 0.0f;
    float specular = 0.0f;
    float reflectivity = 0.0f;
    float transparency = 0.0f;
    float blur = 0.0f;
    float index = 1.5f;
};

// Hand-built scenes traced by a worker that has no thread: every call runs on the test's thread.
class TraceTest : public ::testing::Test {
  protected:
    TraceTest() : pool(200000) {}

    Material* material(const Surface& s) {
        Material* m = scene.create<Material>();
        m->color = scene.create<ColorMap>(s.color);
        m->diffuse = scene.create<FloatMap>(s.diffuse);
        m->specular = scene.create<FloatMap>(s.specular);
        m->reflectivity = scene.create<FloatMap>(s.reflectivity);
        m->transparency = scene.create<FloatMap>(s.transparency);
        m->reflectionBlur = scene.create<FloatMap>(s.blur);
        m->refractionIndex = scene.create<FloatMap>(s.index);
        return m;
    }

    // Two triangles over p0..p3 with the vertex normal n, wound counter-clockwise as seen from the side
    // n points to, as mesh files are. Texture coordinates are the corners' x and y.
    static void addQuad(Scene& target, Vector3 p0, Vector3 p1, Vector3 p2, Vector3 p3, const Vector3& n,
                        const Material* m, int type = Primitive::lit) {
        if (dot(cross(p1 - p0, p2 - p0), n) < 0.0f) {
            std::swap(p1, p3);
        }
        for (Triangle* t : {addTriangle(target, p0, p1, p2, type), addTriangle(target, p0, p2, p3, type)}) {
            t->material = m;
            for (Vertex* v : {t->a, t->b, t->c}) {
                v->normal = n;
                v->u = v->position.x;
                v->v = v->position.y;
            }
        }
    }

    // The horizontal square y = height, |x|, |z| <= half.
    void addFloor(float height, float half, const Vector3& n, const Material* m, int type = Primitive::lit) {
        addQuad(scene, {-half, height, -half}, {half, height, -half}, {half, height, half},
                {-half, height, half}, n, m, type);
    }

    BucketWorker& worker() {
        if (!m_worker) {
            scene.boundsMin = Vector3(-200, -200, -200);
            scene.boundsSize = Vector3(400, 400, 400);
            KdTree* tree = scene.create<KdTree>(pool);
            scene.accelerator = tree;
            tree->build(scene);
            m_worker =
                std::make_unique<BucketWorker>(&scene, 16, 0, 0, &camera, 16, 16, &trigger, &settings, &done);
        }
        return *m_worker;
    }

    // A primary-style call with the settings' sample counts, from depth onward; counts rays afresh.
    Color trace(const Ray& ray, int depth = 1, float medium = 1.0f, Color start = Color()) {
        BucketWorker& w = worker();
        w.raysCast = 0;
        const int samples = settings.reflectionSamples;
        const int subdivisions = settings.areaLightSubdivisions;
        w.trace(ray, start, depth, medium, distance, samples, subdivisions,
                1.0f / static_cast<float>(samples), 1.0f / static_cast<float>(subdivisions));
        return start;
    }

    std::uint32_t raysCast() { return worker().raysCast; }

    Scene scene;
    KdPool pool;
    Camera camera{16, 16};
    RenderSettings settings;
    Counter trigger{0};
    Counter done{0};
    float distance = 0.0f;

  private:
    std::unique_ptr<BucketWorker> m_worker;
};

const Vector3 up(0, 1, 0);
const Vector3 down(0, -1, 0);
Ray straightDown(float x, float z) {
    return Ray{{x, 5, z}, {0, -1, 0}};
}

void expectColorNear(const Color& expected, const Color& actual, float tolerance) {
    EXPECT_NEAR(expected.r, actual.r, tolerance);
    EXPECT_NEAR(expected.g, actual.g, tolerance);
    EXPECT_NEAR(expected.b, actual.b, tolerance);
}

// Floor colour (0.8, 0.6, 0.4), diffuse 0.5, lit by a light of colour (1, 0.5, 0.25) at (0, 4, 0).
class LitFloor : public TraceTest {
  protected:
    LitFloor() {
        floorMaterial = material({.color = {0.8f, 0.6f, 0.4f}, .diffuse = 0.5f});
        addFloor(0.0f, 10.0f, up, floorMaterial);
        scene.lights.push_back(scene.create<PointLight>(Vector3(0, 4, 0), lightColor));
    }

    // What the floor shows at a point whose light direction makes cosine d with the normal, at
    // visibility vis.
    Color lit(float d, float vis = 1.0f) const {
        const float x = d * 0.5f * vis;
        return {x * 0.8f * lightColor.r, x * 0.6f * lightColor.g, x * 0.4f * lightColor.b};
    }

    Material* floorMaterial;
    const Color lightColor{1.0f, 0.5f, 0.25f};
};

TEST_F(LitFloor, DiffuseFollowsTheCosineLawTheLightAndTheSurfaceColour) {
    // Below the light the cosine is 1; three units aside it is 4/5.
    expectColorNear(lit(1.0f), trace(straightDown(0, 0)), 1e-7f);
    EXPECT_EQ(5.0f, distance);
    EXPECT_EQ(1u, raysCast()); // one shadow ray, nothing reflects
    const Color aside = trace(straightDown(3, 0));
    expectColorNear(lit(0.8f), aside, 1e-6f);
    expectColorNear(Color(0.32f, 0.12f, 0.04f), aside, 1e-6f);
}

TEST_F(LitFloor, AWallBetweenThePointLightAndTheFloorCastsFullShadow) {
    // The wall x = 1.5 cuts the path from (3, 0, 0) to the light, not the one from (-3, 0, 0).
    addQuad(scene, {1.5f, 0.5f, -1}, {1.5f, 0.5f, 1}, {1.5f, 3.5f, 1}, {1.5f, 3.5f, -1}, {1, 0, 0},
            floorMaterial);
    EXPECT_EQ(Color(), trace(straightDown(3, 0)));
    EXPECT_EQ(1u, raysCast());
    expectColorNear(lit(0.8f), trace(straightDown(-3, 0)), 1e-6f);

    Vector3 L;
    EXPECT_EQ(0.0f, worker().lightVisibility(*scene.lights[0], Vector3(3, 0, 0), L, 16, 1.0f / 16.0f));
    // The direction is written also when the light is hidden.
    EXPECT_NEAR(-0.6f, L.x, 1e-7f);
    EXPECT_NEAR(0.8f, L.y, 1e-7f);
    EXPECT_EQ(0.0f, L.z);
}

TEST_F(LitFloor, AHiddenHalfOfAnAreaLightTakesItsShareOfTheWeight) {
    // A square light at height 4 over x in [-1.5, 0.5]; seen from the origin, a blocker at height 2
    // hides the samples with x < -0.5, half the square.
    AreaLight* light =
        scene.create<AreaLight>(Vector3(-1.5f, 4, -1), lightColor, Vector3(2, 0, 0), Vector3(0, 0, 2));
    ASSERT_EQ(Light::areaSampling, light->type);
    scene.lights[0] = light;
    addQuad(scene, {-5, 2, -5}, {-0.25f, 2, -5}, {-0.25f, 2, 5}, {-5, 2, 5}, down, floorMaterial);

    // At the origin every coordinate's bit pattern is 0, so sample i reads the table at i and i + 1.
    const int n = 16;
    const Twister reference(Twister::workerSeed);
    int open = 0;
    for (int i = 0; i < n; ++i) {
        float a = 0.0f;
        float b = 0.0f;
        reference.samplePair(static_cast<std::uint32_t>(i), a, b);
        if ((-1.5f + 2.0f * a) / 2.0f > -0.25f) {
            ++open;
        }
    }
    ASSERT_GT(open, 0);
    ASSERT_LT(open, n);
    const float vis = static_cast<float>(open) / static_cast<float>(n);

    Vector3 L;
    EXPECT_EQ(vis, worker().lightVisibility(*light, Vector3(0, 0, 0), L, n, 1.0f / static_cast<float>(n)));
    // Shading aims at the corner, not at the samples.
    const float length = std::sqrt(1.5f * 1.5f + 16.0f + 1.0f);
    EXPECT_NEAR(4.0f / length, L.y, 1e-6f);

    settings.areaLightSubdivisions = n;
    expectColorNear(lit(4.0f / length, vis), trace(straightDown(0, 0)), 1e-6f);
    EXPECT_EQ(static_cast<std::uint32_t>(n), raysCast());

    // As a point light (the type it is loaded with) it shines from its corner, which the blocker hides.
    light->type = Light::pointSampling;
    EXPECT_EQ(Color(), trace(straightDown(0, 0)));
    EXPECT_EQ(1u, raysCast());
    // With no subdivisions an area light gives nothing.
    light->type = Light::areaSampling;
    settings.areaLightSubdivisions = 0;
    EXPECT_EQ(Color(), trace(straightDown(0, 0)));
}

TEST_F(LitFloor, HighlightAtTheMirrorDirectionAddsTheLightColour) {
    floorMaterial->specular = scene.create<FloatMap>(0.8f);
    // From (6, 4, 0) to (3, 0, 0): the light at (0, 4, 0) lies in the mirror direction.
    const Color c = trace(Ray{{6, 4, 0}, {-0.6f, -0.8f, 0.0f}});
    const Color expected = lit(0.8f) + lightColor * 0.8f;
    expectColorNear(expected, c, 1e-5f);
}

// A mirror floor of colour (0.5, 1, 1) and reflectivity 0.6 facing an unlit wall at z = 10.
class Mirror : public TraceTest {
  protected:
    Mirror() {
        mirror = material({.color = {0.5f, 1.0f, 1.0f}, .reflectivity = 0.6f});
        addFloor(0.0f, 10.0f, up, mirror);
        addQuad(scene, {-10, -1, 10}, {10, -1, 10}, {10, 20, 10}, {-10, 20, 10}, {0, 0, -1},
                material({.color = wall}), Primitive::environment);
    }

    const Ray ray{{0, 5, 0}, {0.0f, -std::sqrt(0.5f), std::sqrt(0.5f)}};
    const Color wall{0.2f, 0.7f, 0.3f};
    Material* mirror;
};

TEST_F(Mirror, ShowsTheColouredPlaneTintedAndScaled) {
    expectColorNear(Color(0.6f * 0.2f * 0.5f, 0.6f * 0.7f, 0.6f * 0.3f), trace(ray), 1e-7f);
    EXPECT_EQ(1u, raysCast());

    mirror->reflectivityTexture = scene.create<FloatMap>(0.5f);
    expectColorNear(Color(0.03f, 0.21f, 0.09f), trace(ray), 1e-7f);
}

TEST_F(Mirror, TraceDepthOneTracesNoSecondaryRay) {
    settings.traceDepth = 1;
    EXPECT_EQ(Color(), trace(ray));
    EXPECT_EQ(0u, raysCast());
    // The depth passed in counts, not only the setting.
    settings.traceDepth = 6;
    EXPECT_EQ(Color(), trace(ray, 6));
    EXPECT_EQ(0u, raysCast());
}

TEST_F(TraceTest, EnvironmentAddsExactlyItsColourWhateverTheLights) {
    Material* sky = material({.color = {0.3f, 0.4f, 0.5f},
                              .diffuse = 1.0f,
                              .specular = 1.0f,
                              .reflectivity = 1.0f,
                              .transparency = 1.0f});
    addFloor(10.0f, 10.0f, down, sky, Primitive::environment);
    scene.lights.push_back(scene.create<PointLight>(Vector3(0, 5, 0), Color(1, 1, 1)));
    const Ray upward{{0, 0, 0}, {0, 1, 0}};
    EXPECT_EQ(Color(0.1f + 0.3f, 0.1f + 0.4f, 0.1f + 0.5f), trace(upward, 1, 1.0f, Color(0.1f, 0.1f, 0.1f)));
    EXPECT_EQ(10.0f, distance);
    EXPECT_EQ(0u, raysCast());

    sky->colorTexture = scene.create<ColorMap>(Color(0.5f, 0.5f, 2.0f));
    EXPECT_EQ(Color(0.3f * 0.5f, 0.4f * 0.5f, 0.5f * 2.0f), trace(upward));
}

TEST_F(TraceTest, AMissAddsNothing) {
    addFloor(0.0f, 10.0f, up, material({.diffuse = 1.0f}));
    scene.lights.push_back(scene.create<PointLight>(Vector3(0, 5, 0), Color(1, 1, 1)));
    EXPECT_EQ(Color(0.1f, 0.2f, 0.3f), trace(Ray{{0, 1, 0}, {0, 1, 0}}, 1, 1.0f, Color(0.1f, 0.2f, 0.3f)));
    EXPECT_EQ(10000.0f, distance);
    EXPECT_EQ(0u, raysCast());
}

// A glass slab z in [2, 3] of colour (0.1, 0.2, 0.3) in front of an unlit wall at z = 10 that shows
// where it is hit: (x, y, 1).
class Glass : public TraceTest {
  protected:
    Glass() {
        const Material* glass = material({.color = absorption, .transparency = 1.0f, .index = 1.5f});
        addQuad(scene, {-1, -1, 2}, {1, -1, 2}, {1, 1, 2}, {-1, 1, 2}, {0, 0, -1}, glass);
        addQuad(scene, {-1, -1, 3}, {1, -1, 3}, {1, 1, 3}, {-1, 1, 3}, {0, 0, 1}, glass);
        Material* wall = material({});
        wall->colorTexture = scene.create<CoordinateMap>();
        addQuad(scene, {-5, -5, 10}, {5, -5, 10}, {5, 5, 10}, {-5, 5, 10}, {0, 0, -1}, wall,
                Primitive::environment);
    }

    const Color absorption{0.1f, 0.2f, 0.3f};
};

TEST_F(Glass, AtNormalIncidenceTheRayGoesStraightThroughAndIsAbsorbed) {
    const Color c = trace(Ray{{0.3f, 0.2f, 0}, {0, 0, 1}});
    // Inside, the ray runs from just beyond the front face to the back face; the ray leaving the back
    // face runs to the wall, and its length is absorbed by the glass colour as well.
    const double inside = 3.0 - 2.0001;
    const double outside = 10.0 - 3.0001;
    const auto through = [&](double k) {
        return std::exp(-0.15 * k * inside) * std::exp(-0.15 * k * outside);
    };
    // Unbent, the ray meets the wall at (0.3, 0.2).
    EXPECT_NEAR(through(0.1) * 0.3, c.r, 1e-5);
    EXPECT_NEAR(through(0.2) * 0.2, c.g, 1e-5);
    EXPECT_NEAR(through(0.3) * 1.0, c.b, 1e-5);
    EXPECT_EQ(2u, raysCast());
}

TEST_F(Glass, TheRefractedRayStopsAtTheTraceDepth) {
    settings.traceDepth = 2;
    EXPECT_EQ(Color(), trace(Ray{{0.3f, 0.2f, 0}, {0, 0, 1}}));
    EXPECT_EQ(1u, raysCast());
}

TEST_F(TraceTest, TotalInternalReflectionPassesNothing) {
    const Material* surface = material({.transparency = 1.0f, .index = 1.0f});
    addQuad(scene, {-10, -10, 2}, {10, -10, 2}, {10, 10, 2}, {-10, 10, 2}, {0, 0, -1}, surface);
    addQuad(scene, {-20, -20, 5}, {20, -20, 5}, {20, 20, 5}, {-20, 20, 5}, {0, 0, -1},
            material({.color = {1, 1, 1}}), Primitive::environment);
    // From glass (1.5) into air at 60 degrees: past the critical angle of 41.8 degrees.
    const float s60 = std::sqrt(0.75f);
    EXPECT_EQ(Color(), trace(Ray{{0, 0, 0}, {s60, 0.0f, 0.5f}}, 1, 1.5f));
    EXPECT_EQ(0u, raysCast());
    // At 30 degrees it passes, bent away from the normal, and reaches the unlit plane.
    const Color passed = trace(Ray{{0, 0, 0}, {0.5f, 0.0f, s60}}, 1, 1.5f);
    EXPECT_EQ(1u, raysCast());
    EXPECT_GT(passed.r, 0.0f);
}

// A blurred mirror floor under an unlit ceiling of one colour: every jittered sample sees the same
// colour, so the samples' weights must add up to the reflectivity.
class BlurredMirror : public TraceTest {
  protected:
    BlurredMirror() {
        addFloor(0.0f, 100.0f, up,
                 material({.color = {1.0f, 0.5f, 1.0f}, .reflectivity = 0.8f, .blur = 0.1f}));
        addFloor(10.0f, 100.0f, down, material({.color = ceiling}), Primitive::environment);
    }

    const Ray ray{{0, 5, 0}, normalize(Vector3(1, -1, 0))};
    const Color ceiling{0.25f, 0.5f, 0.75f};
    const Color expected{0.8f * 0.25f, 0.8f * 0.5f * 0.5f, 0.8f * 0.75f};
};

TEST_F(BlurredMirror, BlursAtDepthsOneAndTwoAndMirrorsFromDepthThree) {
    ASSERT_EQ(8, settings.reflectionSamples);
    Twister& random = *worker().random;
    expectColorNear(expected, trace(ray, 1), 1e-6f);
    EXPECT_EQ(8u, raysCast());
    EXPECT_EQ(16, random.index); // two draws per sample
    expectColorNear(expected, trace(ray, 2), 1e-6f);
    EXPECT_EQ(8u, raysCast());
    EXPECT_EQ(32, random.index);
    expectColorNear(expected, trace(ray, 3), 1e-6f);
    EXPECT_EQ(1u, raysCast());
    EXPECT_EQ(32, random.index); // a mirror draws nothing
}

TEST_F(BlurredMirror, NoSamplesNoBlurredReflection) {
    settings.reflectionSamples = 3;
    BucketWorker& w = worker();
    w.raysCast = 0;
    Color c;
    // What a level below a blurred level with 3 samples receives: 3 / 4 = 0 samples, weight 4/3.
    w.trace(ray, c, 2, 1.0f, distance, 0, 4, 4.0f / 3.0f, 1.0f);
    EXPECT_EQ(Color(), c);
    EXPECT_EQ(0u, w.raysCast);
}

TEST_F(TraceTest, SampleCountsShrinkWithDepth) {
    // Two blurred mirrors facing each other, no light: every ray hits, so the count is the tree of
    // calls. Depth 1 casts 8, each of depth 2 casts 8 / 4 = 2, depths 3 and 4 mirror with one ray
    // each, depth 5 (the trace depth) casts none.
    const Material* m = material({.reflectivity = 1.0f, .blur = 0.1f});
    addFloor(0.0f, 150.0f, up, m);
    addFloor(2.0f, 150.0f, down, m);
    settings.traceDepth = 5;
    trace(Ray{{0, 1, 0}, normalize(Vector3(1, -1, 0.5f))});
    EXPECT_EQ(8u + 16u + 16u + 16u, raysCast());

    // With 3 samples the second level gets none.
    settings.reflectionSamples = 3;
    trace(Ray{{0, 1, 0}, normalize(Vector3(1, -1, 0.5f))});
    EXPECT_EQ(3u, raysCast());
}

TEST_F(TraceTest, RaysCastCountsShadowAndSecondaryRays) {
    // A lit, half-mirror floor under a lit ceiling, a point light and a 4-sample area light between.
    addFloor(0.0f, 20.0f, up, material({.diffuse = 0.5f, .reflectivity = 0.5f}));
    addFloor(10.0f, 20.0f, down, material({.diffuse = 0.5f}));
    scene.lights.push_back(scene.create<PointLight>(Vector3(2, 5, 0), Color(1, 1, 1)));
    scene.lights.push_back(
        scene.create<AreaLight>(Vector3(-1, 5, -1), Color(1, 1, 1), Vector3(2, 0, 0), Vector3(0, 0, 2)));
    settings.areaLightSubdivisions = 4;
    // Floor: 1 + 4 shadow rays; the mirror ray; the ceiling, with half the subdivisions: 1 + 2.
    trace(Ray{{0.5f, 3, 0.5f}, {0, -1, 0}});
    EXPECT_EQ(5u + 1u + 3u, raysCast());
    settings.traceDepth = 1;
    trace(Ray{{0.5f, 3, 0.5f}, {0, -1, 0}});
    EXPECT_EQ(5u, raysCast());
}

TEST_F(TraceTest, NormalsOfAMovingPartTurnWithItsProxy) {
    // The part: a square in its local plane z = 0 with normal +z, turned by -90 degrees about x so that
    // the normal points up, and placed at height 1.
    Scene& part = *scene.create<Scene>();
    const Material* m = material({.color = {1.0f, 1.0f, 1.0f}, .diffuse = 1.0f});
    addQuad(part, {-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {0, 0, 1}, m);
    part.boundsMin = Vector3(-2, -2, -2);
    part.boundsSize = Vector3(4, 4, 4);
    KdTree* partTree = scene.create<KdTree>(pool);
    part.accelerator = partTree;
    partTree->build(part);

    SceneObject* proxy = scene.create<SceneObject>();
    const float h = std::sqrt(0.5f);
    proxy->rotation = Quaternion(h, -h, 0.0f, 0.0f);
    proxy->position = Vector3(0, 1, 0);
    proxy->instance = &part;
    proxy->ownerScene = &scene;
    part.proxy = proxy;
    const Vector3 turned = proxy->rotation.rotate(Vector3(0, 0, 1));
    ASSERT_NEAR(1.0f, turned.y, 1e-6f);
    // The proxy box: the part's local box, which the quarter turn about x maps onto itself.
    const auto corner = [](int i) {
        return Vector3(i & 1 ? 2 : -2, (i & 2 ? 2 : -2) + 1.0f, i & 4 ? 2 : -2);
    };
    const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                             {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
    for (const auto& f : faces) {
        addTriangle(scene, corner(f[0]), corner(f[1]), corner(f[2]), Primitive::proxy)->owner = proxy;
        addTriangle(scene, corner(f[0]), corner(f[2]), corner(f[3]), Primitive::proxy)->owner = proxy;
    }
    scene.lights.push_back(scene.create<PointLight>(Vector3(0, 5, 0), Color(1, 1, 1)));

    // Hit at (0.5, 1, 0.25): the light direction (-0.5, 4, -0.25) meets the turned normal (0, 1, 0) at
    // a cosine of 4 / |(-0.5, 4, -0.25)|; against the local normal (0, 0, 1) it would be unlit.
    const Color c = trace(Ray{{0.5f, 4, 0.25f}, {0, -1, 0}});
    EXPECT_NEAR(3.0f, distance, 1e-5f);
    const float d = 4.0f / std::sqrt(0.25f + 16.0f + 0.0625f);
    expectColorNear(Color(d, d, d), c, 1e-5f);
    EXPECT_EQ(1u, raysCast());
}

} // namespace
} // namespace Raytracer
