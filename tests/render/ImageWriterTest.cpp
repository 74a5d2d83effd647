#include "render/ImageWriter.h"

#include "math/FatalError.h"
#include "render/FrameBuffer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

namespace Raytracer {
namespace {

std::filesystem::path tempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           ("lumenbox_image_" + std::to_string(::getpid()) + "_" + name);
}

// A 3 x 2 frame whose bottom row is red and top row is blue, with out-of-range values.
FrameBuffer sampleFrame() {
    FrameBuffer frame(3, 2);
    Color* p = frame.pixels();
    p[0] = Color(1, 0, 0);
    p[1] = Color(2.5f, -1, 0.5f);
    p[2] = Color(std::numeric_limits<float>::quiet_NaN(), 0, 0);
    p[3] = Color(0, 0, 1);
    p[4] = Color(0, 0, 1);
    p[5] = Color(0.2f, 0.2f, 0.2f);
    return frame;
}

TEST(ImageWriter, ChannelsClampAndRoundAsTheDisplayDoes) {
    EXPECT_EQ(0, toDisplayByte(-0.5f));
    EXPECT_EQ(0, toDisplayByte(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_EQ(255, toDisplayByte(1.0f));
    EXPECT_EQ(255, toDisplayByte(40.0f));
    EXPECT_EQ(128, toDisplayByte(0.5f));
    EXPECT_EQ(51, toDisplayByte(0.2f));
}

TEST(ImageWriter, PpmHasTheTopRowFirst) {
    const auto path = tempPath("a.ppm");
    writeImage(sampleFrame(), path.string());
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    const std::string header = "P6\n3 2\n255\n";
    ASSERT_EQ(header.size() + 18, bytes.size());
    EXPECT_EQ(header, bytes.substr(0, header.size()));
    const auto at = [&](int i) { return static_cast<unsigned char>(bytes[header.size() + i]); };
    // Top row first: blue, blue, grey.
    EXPECT_EQ(0, at(0));
    EXPECT_EQ(255, at(2));
    EXPECT_EQ(51, at(6));
    // Then the bottom row: red, clamped (255, 0, 128), NaN as 0.
    EXPECT_EQ(255, at(9));
    EXPECT_EQ(255, at(12));
    EXPECT_EQ(0, at(13));
    EXPECT_EQ(128, at(14));
    EXPECT_EQ(0, at(15));
}

TEST(ImageWriter, PngDecodesToTheSamePixels) {
    const auto path = tempPath("a.png");
    writeImage(sampleFrame(), path.string());
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.string().c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    std::filesystem::remove(path);
    EXPECT_EQ(3u, image.width);
    EXPECT_EQ(2u, image.height);
    EXPECT_EQ(255, pixels[2]);  // top-left blue
    EXPECT_EQ(255, pixels[9]);  // bottom-left red
    EXPECT_EQ(128, pixels[14]); // clamped blue of the middle bottom pixel
}

TEST(ImageWriter, UnwritablePathIsOneLineNamingTheFile) {
    try {
        writeImage(sampleFrame(), "/nonexistent-dir/x.png");
        FAIL() << "wrote into a missing directory";
    } catch (const FatalError& error) {
        const std::string line = error.what();
        EXPECT_NE(std::string::npos, line.find("/nonexistent-dir/x.png"));
        EXPECT_EQ(std::string::npos, line.find('\n'));
    }
}

} // namespace
} // namespace Raytracer
