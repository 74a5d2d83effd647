#include "app/AppState.h"
#include "app/HeadlessWindow.h"
#include "app/InputHandler.h"
#include "app/Startup.h"
#include "render/FrameBuffer.h"
#include "render/ImageWriter.h"
#include "render/Renderer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace Raytracer {
namespace {

// Compared with the working directory at the project root, as the tests run.
const char* const referencePath = "tests/reference/default-scene.png";

// A later change may move a channel by a rounding step or two here and there (a different but equally
// valid float order in a few pixels); anything more, or in more places, is a change of the picture.
constexpr int channelTolerance = 2;
constexpr double matchingFraction = 0.999;

struct Image {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<unsigned char> rgb;
};

bool readPng(const std::string& path, Image& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    image.rgb.resize(PNG_IMAGE_SIZE(png));
    image.width = png.width;
    image.height = png.height;
    return png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr) != 0;
}

// One frame of the shipped scene as lumenbox-render draws it with no arguments: 512 pixels, buckets of
// 16, 16 subdivisions, depth 6, 8 samples, point light, no anti-aliasing, the start camera.
FrameBuffer renderDefaultScene() {
    AppState app;
    initialiseRenderer(app);
    HeadlessWindow window;
    InputHandler input(app, window);
    input.updateCamera();
    app.renderer->viewChanged = true;
    app.renderer->renderFrame();
    FrameBuffer frame = *app.frameBuffer;
    releaseRenderer(app);
    return frame;
}

// Renders are deterministic: every worker's generator starts from the same seed, so a pixel depends
// only on the scene and the settings. Set LUMENBOX_UPDATE_REFERENCES=1 to rewrite the reference after a
// deliberate change of the picture.
TEST(ReferenceImage, DefaultSceneMatchesTheReference) {
    const FrameBuffer frame = renderDefaultScene();
    const char* update = std::getenv("LUMENBOX_UPDATE_REFERENCES");
    if (update != nullptr && std::string(update) == "1") {
        std::filesystem::create_directories(std::filesystem::path(referencePath).parent_path());
        writeImage(frame, referencePath);
        GTEST_SKIP() << "wrote " << referencePath;
    }

    // The actual picture goes through the same writer as the reference, so both are quantised alike.
    const std::filesystem::path directory = std::filesystem::temp_directory_path() / "lumenbox-reference";
    std::filesystem::create_directories(directory);
    const std::string actualPath = (directory / "default-scene-actual.png").string();
    writeImage(frame, actualPath);

    Image expected;
    Image actual;
    ASSERT_TRUE(readPng(referencePath, expected))
        << "cannot read " << referencePath << " (LUMENBOX_UPDATE_REFERENCES=1 writes it)";
    ASSERT_TRUE(readPng(actualPath, actual));
    ASSERT_EQ(expected.width, actual.width);
    ASSERT_EQ(expected.height, actual.height);

    // The difference image shows each channel's difference, times 16, in the same layout.
    FrameBuffer difference(static_cast<int>(actual.width), static_cast<int>(actual.height));
    const std::size_t pixels = static_cast<std::size_t>(actual.width) * actual.height;
    std::size_t matching = 0;
    int largest = 0;
    for (std::size_t i = 0; i < pixels; ++i) {
        int worst = 0;
        float channels[3];
        for (int c = 0; c < 3; ++c) {
            const int d =
                std::abs(static_cast<int>(expected.rgb[3 * i + c]) - static_cast<int>(actual.rgb[3 * i + c]));
            channels[c] = static_cast<float>(d) * 16.0f / 255.0f;
            worst = std::max(worst, d);
        }
        largest = std::max(largest, worst);
        if (worst <= channelTolerance) {
            ++matching;
        }
        // The files hold the top row first; the frame buffer holds it last.
        const std::size_t row = actual.height - 1 - i / actual.width;
        difference.pixels()[row * actual.width + i % actual.width] =
            Color(channels[0], channels[1], channels[2]);
    }
    const double fraction = static_cast<double>(matching) / static_cast<double>(pixels);
    if (fraction >= matchingFraction) {
        std::filesystem::remove(actualPath);
        return;
    }
    const std::string differencePath = (directory / "default-scene-difference.png").string();
    writeImage(difference, differencePath);
    ADD_FAILURE() << "only " << fraction * 100.0 << " % of the pixels are within " << channelTolerance
                  << "/255 of " << referencePath << " (needed: " << matchingFraction * 100.0
                  << " %; largest difference " << largest << "/255).\n  actual: " << actualPath
                  << "\n  difference (x16): " << differencePath;
}

} // namespace
} // namespace Raytracer
