#include "shading/Texture.h"

#include "shading/TextureBW.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <limits>

#include <unistd.h>

namespace Raytracer {
namespace {

// Loads an uncompressed TGA of the given image type (2 colour, 3 grey) through a file of this process's
// own. The header gives the ID length (2), the type, the size and the depth; the ID precedes the pixels.
template <class Image> Image load(char type, char width, char height, std::initializer_list<int> pixels) {
    std::string bytes = {2, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0, width, 0, height, 0, 24, 0, 'I', 'D'};
    bytes.append(pixels.begin(), pixels.end());
    const std::string path = ::testing::TempDir() + "lumenbox-texture-" + std::to_string(getpid()) + ".tga";
    std::ofstream(path, std::ios::binary) << bytes;
    Image image(path);
    std::remove(path.c_str());
    return image;
}

// Both coordinates are scaled by the width (4): s repeats with period 1 and t with period 1/2, both
// mirror about 0, and the last column and row blend into the first. Row 0 is the first stored row.
TEST(TextureBW, BilinearLookupWrapsAndMirrors) {
    const TextureBW grey = load<TextureBW>(3, 4, 2, {8, 16, 32, 64, 128, 96, 192, 240});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float s, t, bytes;
    } rows[] = {{0.0f, 0.0f, 8},      {0.125f, 0.0f, 12},     {0.25f, 0.25f, 96}, {0.875f, 0.0f, 36},
                {0.0f, 0.375f, 68},   {0.5f, 0.5f, 32},       {1.25f, 0.0f, 16},  {-0.25f, -0.25f, 96},
                {0.125f, 0.125f, 62}, {-0.875f, 0.125f, 110}, {nan, 0.25f, 128},  {inf, -inf, 8},
                {1.0e10f, 0.25f, 128}};
    for (const auto& row : rows) {
        float out[3];
        EXPECT_FLOAT_EQ(row.bytes / 256.0f, grey.lookup(out, row.s, row.t, 0)[0]) << row.s << ", " << row.t;
    }
}

// The file holds blue, green, red; a byte reads as itself over 256, so 255 is just under 1. At
// (0.25, 0.125) each pixel of row 0 weighs 3/8 and each of row 1 1/8.
TEST(Texture, ReadsBgrPixelsInFileOrderAndBlendsEachChannel) {
    const Texture texture = load<Texture>(2, 2, 2, {1, 2, 3, 4, 5, 6, 255, 128, 7, 10, 20, 30});
    const auto at = [&](float s, float t) {
        float out[3];
        texture.lookup(out, s, t, 0);
        return Color(out[0], out[1], out[2]) * 256.0f;
    };
    EXPECT_EQ(Color(3, 2, 1), at(0, 0));
    EXPECT_EQ(Color(7, 128, 255), at(0, 0.5f));
    EXPECT_EQ(Color(8, 21.125f, 35), at(0.25f, 0.125f));
}

} // namespace
} // namespace Raytracer
