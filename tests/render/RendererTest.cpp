#include "render/Renderer.h"

#include "geometry/Triangle.h"
#include "render/FrameBuffer.h"
#include "render/ImageWriter.h"
#include "shading/Material.h"
#include "scene/Scene.h"
#include "geometry/Vertex.h"
#include "shading/ColorMap.h"
#include "tests/support/RandomScene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Raytracer {
namespace {

// Colours by where it is looked up; blue is not linear, so an average of samples depends on where they lie.
struct PlaneMap final : Map {
    const float* lookup(float* out, float s, float t, float) const override {
        out[0] = s, out[1] = t, out[2] = 1 + s * s + t * t;
        return out;
    }
};

// An unlit screen one image-plane distance in front of the camera, wider than the view, carrying
// image-plane coordinates as texture coordinates. 50 pixels in buckets of 4: 144 workers, and the strips
// beyond pixel 48 are left alone. Row 0 is the bottom. A pixel's one sample lies at its upper-right corner,
// or its four at (0.5, 0.5), (0.5, 1), (1, 0.5) and (1, 1) pixels from its lower-left. No frame is partial.
TEST(Renderer, BucketsSampleWherePixelsLieAndEveryFrameIsComplete) {
    FrameBuffer frame(50, 50);
    Renderer renderer(50, 50, 4, frame.pixels());
    Scene& scene = *renderer.scene;
    Material* material = scene.create<Material>();
    material->color = scene.create<ColorMap>(Color(1, 1, 1));
    material->colorTexture = scene.create<PlaneMap>();
    const Vector3 eye = renderer.camera.position;
    Triangle* screen = addTriangle(scene, eye + Vector3(-6, -6, 5), eye + Vector3(18, -6, 5),
                                   eye + Vector3(-6, 18, 5), Primitive::environment);
    screen->material = material;
    for (Vertex* v : {screen->a, screen->b, screen->c})
        v->u = v->position.x - eye.x, v->v = v->position.y - eye.y;
    RandomScene(scene, *renderer.pool, 0).buildTopLevel(); // bounds of +-20 and a tree, nothing random

    for (int n = 0; n < 30; ++n) {
        const bool four = renderer.settings->antiAliasing = n % 2 != 0;
        std::fill(frame.pixels(), frame.pixels() + 2500, Color(-1, -1, -1));
        renderer.renderFrame();
        ASSERT_EQ((four ? 4u : 1u) * 48 * 48, renderer.raysCast);
        for (int i = 0; i < 2500; ++i) {
            // 0.16 per pixel; sample k lies half a pixel further right from k = 2 on, and up at odd k.
            Color s[4], expected(-1, -1, -1);
            for (int k = 0; k < 4; ++k)
                material->colorTexture->lookup(
                    &s[k].r, -4 + (i % 50 + 0.5f + 0.5f * (!four || k > 1)) * 0.16f,
                    -4 + (i / 50 + 0.5f + 0.5f * (!four || k % 2 != 0)) * 0.16f, 0);
            expected = i % 50 < 48 && i / 50 < 48 ? (s[1] + s[0] + s[2] + s[3]) * 0.25f : expected;
            const Color d = expected + frame.pixels()[i] * -1.0f;
            ASSERT_LT(std::fabs(d.r) + std::fabs(d.g) + std::fabs(d.b), 1e-3f)
                << "pixel " << i << " frame " << n;
        }
    }
}

// The window's transfer: clamped to [0, 1] (NaN reads as 0), then rounded to 0..255. Which byte goes where
// in a file shows in every picture the renderer writes.
TEST(ImageWriter, ChannelsClampAndRoundAsTheWindowShowsThem) {
    for (const auto& [channel, byte] :
         {std::pair{-1.0f, 0}, {NAN, 0}, {0.0019f, 0}, {0.003f, 1}, {0.5f, 128}, {2.5f, 255}})
        EXPECT_EQ(byte, toDisplayByte(channel)) << channel;
}

} // namespace
} // namespace Raytracer
