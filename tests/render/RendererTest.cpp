#include "render/Renderer.h"

#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "math/FatalError.h"
#include "render/FrameBuffer.h"
#include "scene/Material.h"
#include "scene/Scene.h"
#include "scene/Vertex.h"
#include "shading/ColorMap.h"
#include "shading/FloatMap.h"
#include "shading/Map.h"
#include "tests/support/RandomScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace Raytracer {
namespace {

// The colour the screen below shows where the ray through image-plane point (x, y) meets it. Blue is
// not linear in the position, so an average of samples also depends on where they lie, not only on
// their mean.
Color screenColor(float x, float y) {
    return {x, y, 1.0f + x * x + y * y};
}

// Colours a surface by its texture coordinates as screenColor does.
class CoordinateMap final : public Map {
  public:
    const float* lookup(float* out, float s, float t, float) const override {
        const Color c = screenColor(s, t);
        out[0] = c.r;
        out[1] = c.g;
        out[2] = c.b;
        return out;
    }
};

// An unlit screen one image-plane distance in front of the default camera and wider than its view,
// textured so that the ray through image-plane point (x, y) shows screenColor(x, y). No pixel the
// screen covers is black.
void addScreen(Renderer& renderer) {
    Scene& scene = *renderer.scene;
    Material* material = scene.create<Material>();
    material->color = scene.create<ColorMap>(Color(1.0f, 1.0f, 1.0f));
    material->colorTexture = scene.create<CoordinateMap>();
    const Vector3 eye = renderer.camera.position;
    const float z = eye.z + renderer.camera.screenDistance;
    const float half = 6.0f;
    const Vector3 corners[4] = {{eye.x - half, eye.y - half, z},
                                {eye.x + half, eye.y - half, z},
                                {eye.x + half, eye.y + half, z},
                                {eye.x - half, eye.y + half, z}};
    for (const auto& [i, j] : {std::pair{1, 2}, std::pair{2, 3}}) {
        Triangle* t = addTriangle(scene, corners[0], corners[i], corners[j], Primitive::environment);
        t->material = material;
        for (Vertex* v : {t->a, t->b, t->c}) {
            v->u = v->position.x - eye.x;
            v->v = v->position.y - eye.y;
        }
    }
    scene.boundsMin = eye - Vector3(10, 10, 10);
    scene.boundsSize = Vector3(20, 20, 20);
    KdTree* tree = scene.create<KdTree>(*renderer.pool);
    scene.accelerator = tree;
    renderer.pool->setMark();
    tree->build(scene);
}

// Where a ray meets the screen is rounded in the ray direction, the hit distance and the interpolation
// of coordinates up to 6: a few float steps of about 5e-7 each. The smallest sample offset used here,
// half a pixel of a 512 image, is 0.0078.
constexpr float screenTolerance = 1e-5f;
// Blue is up to 33 (float step 4e-6) and squares the position's error.
constexpr float blueTolerance = 1e-4f;

void expectScreenColor(const Color& expected, const Color& actual) {
    EXPECT_NEAR(expected.r, actual.r, screenTolerance);
    EXPECT_NEAR(expected.g, actual.g, screenTolerance);
    EXPECT_NEAR(expected.b, actual.b, blueTolerance);
}

bool isBlack(const Color& c) {
    return c.r == 0.0f && c.g == 0.0f && c.b == 0.0f;
}

struct Frame {
    Frame(int size, int bucket) : buffer(size, size), renderer(size, size, bucket, buffer.pixels()) {}
    FrameBuffer buffer;
    Renderer renderer;
};

TEST(Renderer, BucketGridAndSlots) {
    Frame standard(512, 16);
    EXPECT_EQ(32, standard.renderer.columns());
    EXPECT_EQ(1024, standard.renderer.bucketCount());
    EXPECT_EQ(32, standard.renderer.bucketSlot(1, 0));
    EXPECT_EQ(1, standard.renderer.bucketSlot(0, 1));

    Frame uneven(500, 16);
    EXPECT_EQ(31 * 31, uneven.renderer.bucketCount());
}

TEST(Renderer, StripsNoBucketCoversStayBlack) {
    Frame f(50, 16); // 3 x 3 buckets cover 48 x 48 pixels
    addScreen(f.renderer);
    f.renderer.renderFrame();
    ASSERT_TRUE(f.renderer.frameReady);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 50; ++x) {
            EXPECT_EQ(x >= 48 || y >= 48, isBlack(f.buffer.at(x, y))) << x << ", " << y;
        }
    }
    EXPECT_EQ(48u * 48u, f.renderer.raysCast);
}

TEST(Renderer, BucketLargerThanTheImageRendersNothing) {
    Frame f(8, 16);
    EXPECT_EQ(0, f.renderer.bucketCount());
    f.renderer.renderFrame();
    EXPECT_TRUE(f.renderer.frameReady);
    EXPECT_EQ(0u, f.renderer.raysCast);
    EXPECT_TRUE(isBlack(f.buffer.at(0, 0)));
}

TEST(Renderer, RendersOnlyWhenAnimatingOrViewChanged) {
    Frame f(32, 16);
    addScreen(f.renderer);
    f.renderer.animating = false;
    f.renderer.renderFrame();
    EXPECT_FALSE(f.renderer.frameReady);
    EXPECT_TRUE(isBlack(f.buffer.at(5, 5)));
    EXPECT_EQ(0.0f, f.renderer.animationClock.robotTime);

    f.renderer.viewChanged = true;
    f.renderer.renderFrame();
    EXPECT_TRUE(f.renderer.frameReady);
    EXPECT_FALSE(f.renderer.viewChanged);
    EXPECT_FALSE(isBlack(f.buffer.at(5, 5)));
    // A still scene does not animate.
    EXPECT_EQ(0.0f, f.renderer.animationClock.robotTime);

    f.renderer.animating = true;
    f.renderer.renderFrame();
    EXPECT_FLOAT_EQ(0.4f, f.renderer.animationClock.robotTime);
}

TEST(Renderer, ThreadsAreCreatedOnceOnTheFirstFrame) {
    Frame f(64, 16);
    EXPECT_TRUE(f.renderer.workersPending);
    f.renderer.renderFrame();
    EXPECT_FALSE(f.renderer.workersPending);
    ASSERT_EQ(16u, f.renderer.threads.size());
    const std::vector<boost::thread*> first = f.renderer.threads;
    EXPECT_EQ(16, f.renderer.threadGroup.size());
    f.renderer.renderFrame();
    EXPECT_EQ(first, f.renderer.threads);
    EXPECT_EQ(16, f.renderer.threadGroup.size());
}

TEST(Renderer, RowZeroIsTheBottomOfTheImage) {
    Frame f(64, 16);
    addScreen(f.renderer);
    f.renderer.renderFrame();
    // The camera looks along +z: the bottom row's rays meet the screen low, the top row's high; column 0
    // is on the left.
    const float pixel = 8.0f / 64.0f;
    EXPECT_NEAR(-4.0f + pixel, f.buffer.at(32, 0).g, screenTolerance);
    EXPECT_NEAR(4.0f, f.buffer.at(32, 63).g, screenTolerance);
    EXPECT_NEAR(-4.0f + pixel, f.buffer.at(0, 32).r, screenTolerance);
    EXPECT_NEAR(4.0f, f.buffer.at(63, 32).r, screenTolerance);
}

TEST(Renderer, SinglePixelSampleIsTheUpperRightCorner) {
    Frame f(512, 16);
    addScreen(f.renderer);
    f.renderer.renderFrame();
    const float pixel = 8.0f / 512.0f;
    const float corner = -4.0f + pixel;
    expectScreenColor(screenColor(corner, corner), f.buffer.at(0, 0));
    // Pixel (17, 3) lies in bucket (1, 0), which starts at column 16.
    expectScreenColor(screenColor(corner + 17 * pixel, corner + 3 * pixel), f.buffer.at(17, 3));
    expectScreenColor(screenColor(4.0f, 4.0f), f.buffer.at(511, 511));
    EXPECT_EQ(262144u, f.renderer.raysCast);
}

TEST(Renderer, AntiAliasingAveragesFourSamples) {
    Frame f(64, 16);
    addScreen(f.renderer);
    f.renderer.settings->antiAliasing = true;
    f.renderer.renderFrame();
    EXPECT_EQ(4u * 64u * 64u, f.renderer.raysCast);

    // Pixel (3, 2): samples at (0.5, 0.5), (0.5, 1), (1, 0.5), (1, 1) pixel widths from its corner.
    const float pixel = 8.0f / 64.0f;
    const float x0 = 0.0f * pixel * 16.0f + -4.0f + 3 * pixel;
    const float y0 = 0.0f * pixel * 16.0f + -4.0f + 2 * pixel;
    const auto sample = [&](float dx, float dy) { return screenColor(x0 + dx * pixel, y0 + dy * pixel); };
    const Color expected =
        (sample(0.5f, 1.0f) + sample(0.5f, 0.5f) + sample(1.0f, 0.5f) + sample(1.0f, 1.0f)) * 0.25f;
    expectScreenColor(expected, f.buffer.at(3, 2));
    // One sample at the pixel's centre has the same red and green but less blue: the test above sees
    // where the samples lie, not only their mean.
    const Color centre = sample(0.75f, 0.75f);
    EXPECT_GT(expected.b - centre.b, 10.0f * blueTolerance);
}

TEST(Renderer, PrimaryRaysFollowTheCameraOrientation) {
    Frame f(16, 16);
    // Half a turn about y: the view looks along -z.
    f.renderer.camera.orientation = Quaternion(0.0f, 0.0f, 1.0f, 0.0f);
    f.renderer.camera.position = Vector3(1, 2, 3);
    f.renderer.renderFrame();
    BucketWorker& worker = *f.renderer.workers[0];
    const Ray ray = worker.primaryRay(0.0f, 0.0f);
    EXPECT_EQ(Vector3(1, 2, 3), ray.origin);
    EXPECT_NEAR(0.0f, ray.direction.x, 1e-6f);
    EXPECT_NEAR(0.0f, ray.direction.y, 1e-6f);
    EXPECT_NEAR(-1.0f, ray.direction.z, 1e-6f);
    const Ray right = worker.primaryRay(4.0f, 0.0f);
    EXPECT_LT(right.direction.x, 0.0f); // camera right is world -x after the half turn
    EXPECT_NEAR(1.0f, right.direction.length(), 1e-6f);
}

// Many frames through the counters: each one complete, none lost, none rendered twice.
TEST(Renderer, CounterHandOffSurvivesManyFrames) {
    Frame f(64, 4); // 256 workers
    addScreen(f.renderer);
    f.renderer.renderFrame();
    const FrameBuffer reference = f.buffer;
    for (int frame = 0; frame < 300; ++frame) {
        std::fill(f.buffer.pixels(), f.buffer.pixels() + 64 * 64, Color());
        f.renderer.settings->antiAliasing = frame % 3 == 0;
        f.renderer.renderFrame();
        ASSERT_TRUE(f.renderer.frameReady);
        ASSERT_EQ((frame % 3 == 0 ? 4u : 1u) * 64u * 64u, f.renderer.raysCast) << "frame " << frame;
        ASSERT_EQ(0, f.renderer.bucketsDone->load());
        if (frame % 3 != 0) {
            for (int i = 0; i < 64 * 64; ++i) {
                ASSERT_EQ(reference.pixels()[i], f.buffer.pixels()[i]) << "frame " << frame << " pixel " << i;
            }
        }
    }
}

// Each animated frame rebuilds the top-level tree from recycled pool storage: the pool does not grow,
// and the tree comes out the same every time.
TEST(Renderer, AnimatedFramesRebuildTheTopLevelTreeInConstantMemory) {
    Frame f(16, 16);
    Scene& scene = *f.renderer.scene;
    Material* material = scene.create<Material>();
    material->color = scene.create<ColorMap>(Color(0.5f, 0.5f, 0.5f));
    for (const Map** slot : {&material->reflectivity, &material->transparency, &material->diffuse,
                             &material->specular, &material->reflectionBlur, &material->refractionIndex}) {
        *slot = scene.create<FloatMap>(0.0f);
    }
    for (int i = 0; i < 40; ++i) {
        const float x = static_cast<float>(i % 7) - 3.0f;
        const float z = static_cast<float>(i / 7) - 3.0f;
        addTriangle(scene, {x, 0, z}, {x + 1.5f, 0.5f, z}, {x, 1, z + 1.5f})->material = material;
    }
    scene.boundsMin = Vector3(-5, -1, -5);
    scene.boundsSize = Vector3(10, 3, 10);
    KdTree* tree = scene.create<KdTree>(*f.renderer.pool);
    scene.accelerator = tree;
    f.renderer.pool->setMark();
    tree->build(scene);

    f.renderer.renderFrame(); // the first rebuild takes fresh storage
    const int nodes = f.renderer.pool->nodesInUse();
    const int elements = f.renderer.pool->elementHighWater();
    const std::uint32_t rootLink = tree->root->link;
    for (int frame = 0; frame < 2000; ++frame) {
        f.renderer.renderFrame();
        ASSERT_EQ(nodes, f.renderer.pool->nodesInUse()) << "frame " << frame;
        ASSERT_EQ(elements, f.renderer.pool->elementHighWater()) << "frame " << frame;
        ASSERT_EQ(rootLink, tree->root->link);
    }
}

TEST(Renderer, NullFrameBufferIsAnAllocationFailure) {
    try {
        Renderer renderer(16, 16, 16, nullptr);
        FAIL() << "constructed without a frame buffer";
    } catch (const FatalError& error) {
        EXPECT_STREQ("An exception occurred: ", error.what());
        EXPECT_EQ(FatalError::Stream::standardOutput, error.stream());
    }
}

} // namespace
} // namespace Raytracer
