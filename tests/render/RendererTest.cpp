#include "render/Renderer.h"

#include "geometry/KdTree.h"
#include "math/FatalError.h"
#include "render/FrameBuffer.h"
#include "scene/Scene.h"
#include "tests/support/RandomScene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Raytracer {
namespace {

// The colour the interim direction preview gives a unit direction.
Color previewColor(const Vector3& d) {
    return {0.5f * (d.x + 1.0f), 0.5f * (d.y + 1.0f), 0.5f * (d.z + 1.0f)};
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
    f.renderer.renderFrame();
    // The camera looks along +z; the bottom row's rays point down, the top row's up.
    EXPECT_LT(f.buffer.at(32, 0).g, 0.5f);
    EXPECT_GT(f.buffer.at(32, 63).g, 0.5f);
    EXPECT_LT(f.buffer.at(0, 32).r, 0.5f);
    EXPECT_GT(f.buffer.at(63, 32).r, 0.5f);
}

TEST(Renderer, SinglePixelSampleIsTheUpperRightCorner) {
    Frame f(512, 16);
    f.renderer.renderFrame();
    const float corner = -4.0f + 8.0f / 512.0f;
    const Color expected = previewColor(normalize(Vector3(corner, corner, 5.0f)));
    EXPECT_EQ(expected, f.buffer.at(0, 0));
    EXPECT_EQ(262144u, f.renderer.raysCast);
}

TEST(Renderer, AntiAliasingAveragesFourSamples) {
    Frame f(64, 16);
    f.renderer.settings->antiAliasing = true;
    f.renderer.renderFrame();
    EXPECT_EQ(4u * 64u * 64u, f.renderer.raysCast);

    // Pixel (3, 2): samples at (0.5, 0.5), (0.5, 1), (1, 0.5), (1, 1) pixel widths from its corner.
    const float pixel = 8.0f / 64.0f;
    const float x0 = 0.0f * pixel * 16.0f + -4.0f + 3 * pixel;
    const float y0 = 0.0f * pixel * 16.0f + -4.0f + 2 * pixel;
    const auto sample = [&](float dx, float dy) {
        return previewColor(normalize(Vector3(x0 + dx * pixel, y0 + dy * pixel, 5.0f)));
    };
    const Color expected =
        (sample(0.5f, 1.0f) + sample(0.5f, 0.5f) + sample(1.0f, 0.5f) + sample(1.0f, 1.0f)) * 0.25f;
    const Color actual = f.buffer.at(3, 2);
    // The worker steps screenX by repeated addition, which may differ in the last bit.
    EXPECT_NEAR(expected.r, actual.r, 1e-6f);
    EXPECT_NEAR(expected.g, actual.g, 1e-6f);
    EXPECT_NEAR(expected.b, actual.b, 1e-6f);
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
    for (int i = 0; i < 40; ++i) {
        const float x = static_cast<float>(i % 7) - 3.0f;
        const float z = static_cast<float>(i / 7) - 3.0f;
        addTriangle(scene, {x, 0, z}, {x + 1.5f, 0.5f, z}, {x, 1, z + 1.5f});
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
