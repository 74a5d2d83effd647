#include "shading/Texture.h"
#include "math/FatalError.h"
#include "shading/FloatMap.h"
#include "shading/TextureBW.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <unistd.h>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;

constexpr float full = 255.0f / 256.0f;
const std::string testdata = "../shared/testdata/tga/";

// Writes TGA fixtures into a directory of its own that goes away with the test.
class TextureFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("lumenbox-texture-" + std::to_string(getpid()) + "-" +
                                           info->test_suite_name() + "-" + info->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = dir / name;
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // An 18-byte header of the given type, size and depth, followed by the pixel bytes as given.
    static std::vector<std::uint8_t> tga(std::uint8_t type, int width, int height, std::uint8_t bits,
                                         const std::vector<std::uint8_t>& pixelBytes,
                                         std::uint8_t idLength = 0) {
        std::vector<std::uint8_t> bytes(18 + idLength + pixelBytes.size(), 0);
        bytes[0] = idLength;
        bytes[2] = type;
        bytes[12] = static_cast<std::uint8_t>(width & 0xff);
        bytes[13] = static_cast<std::uint8_t>(width >> 8);
        bytes[14] = static_cast<std::uint8_t>(height & 0xff);
        bytes[15] = static_cast<std::uint8_t>(height >> 8);
        bytes[16] = bits;
        for (int i = 0; i < idLength; ++i) {
            bytes[18 + i] = static_cast<std::uint8_t>('A' + i);
        }
        for (std::size_t i = 0; i < pixelBytes.size(); ++i) {
            bytes[18 + idLength + i] = pixelBytes[i];
        }
        return bytes;
    }

    // 2x2: first stored row red, green; second row blue, white. Bytes are blue, green, red.
    std::string redGreenBlueWhite() {
        return write("rgbw.tga", tga(2, 2, 2, 24, {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255}));
    }

    fs::path dir;
};

Color colorAt(const Map& map, float s, float t) {
    float out[3] = {-1.0f, -1.0f, -1.0f};
    const float* result = map.lookup(out, s, t, 0.0f);
    EXPECT_EQ(result, out);
    return {out[0], out[1], out[2]};
}

float valueAt(const Map& map, float s, float t) {
    return colorAt(map, s, t).r;
}

void expectColor(const Color& expected, const Color& actual) {
    EXPECT_FLOAT_EQ(expected.r, actual.r);
    EXPECT_FLOAT_EQ(expected.g, actual.g);
    EXPECT_FLOAT_EQ(expected.b, actual.b);
}

std::string fatalText(const std::function<void()>& load) {
    try {
        load();
    } catch (const FatalError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no FatalError";
    return {};
}

TEST_F(TextureFiles, CornerPixelAndEqualBlendOfFour) {
    const Texture texture(redGreenBlueWhite());
    ASSERT_EQ(2, texture.width);
    ASSERT_EQ(2, texture.height);
    expectColor(Color(full, 0, 0), colorAt(texture, 0.0f, 0.0f));
    expectColor(Color(0.5f * full, 0.5f * full, 0.5f * full), colorAt(texture, 0.25f, 0.25f));
}

TEST_F(TextureFiles, PixelsAreStoredRowByRowInFileOrderFromBgr) {
    const Texture texture(redGreenBlueWhite());
    expectColor(Color(full, 0, 0), texture.pixels[0]);
    expectColor(Color(0, full, 0), texture.pixels[1]);
    expectColor(Color(0, 0, full), texture.pixels[2]);
    expectColor(Color(full, full, full), texture.pixels[3]);
    // One pixel per byte position, so a swapped order cannot hide behind symmetric values.
    const Texture single(write("bgr.tga", tga(2, 1, 1, 24, {10, 20, 30})));
    expectColor(Color(30.0f / 256.0f, 20.0f / 256.0f, 10.0f / 256.0f), colorAt(single, 0.0f, 0.0f));
}

TEST_F(TextureFiles, RepeatsWithPeriodOneAndMirrorsAboutZero) {
    const Texture texture(redGreenBlueWhite());
    expectColor(colorAt(texture, 0.0f, 0.0f), colorAt(texture, 1.0f, 0.0f));
    expectColor(colorAt(texture, 0.25f, 0.0f), colorAt(texture, -0.25f, 0.0f));
    expectColor(colorAt(texture, 0.25f, 0.25f), colorAt(texture, -0.25f, -0.25f));
    // s = 0.25 is halfway between red and green.
    expectColor(Color(0.5f * full, 0.5f * full, 0), colorAt(texture, 0.25f, 0.0f));
}

TEST_F(TextureFiles, LastColumnAndRowBlendIntoTheFirst) {
    const Texture texture(redGreenBlueWhite());
    // x = 1.5 blends green (column 1) with red (column 0 again).
    expectColor(Color(0.5f * full, 0.5f * full, 0), colorAt(texture, 0.75f, 0.0f));
    // y = 1.5 blends blue (row 1) with red (row 0 again).
    expectColor(Color(0.5f * full, 0, 0.5f * full), colorAt(texture, 0.0f, 0.75f));
}

TEST_F(TextureFiles, TIsScaledByTheWidth) {
    // 4x2 grey: row 0 is 0, 64, 128, 192 and row 1 is 255 everywhere.
    const TextureBW texture(write("grey4x2.tga", tga(3, 4, 2, 8, {0, 64, 128, 192, 255, 255, 255, 255})));
    // t = 0.5 gives y = 0.5 * 4 = 2, which wraps to row 0; scaled by the height it would be row 1.
    EXPECT_FLOAT_EQ(0.0f, valueAt(texture, 0.0f, 0.5f));
    EXPECT_FLOAT_EQ(0.5f, valueAt(texture, 0.5f, 0.5f));
    // t = 0.25 gives y = 1, row 1.
    EXPECT_FLOAT_EQ(full, valueAt(texture, 0.0f, 0.25f));
    // And s is scaled by the width: s = 0.25 is column 1.
    EXPECT_FLOAT_EQ(0.25f, valueAt(texture, 0.25f, 0.0f));
}

TEST_F(TextureFiles, ByteScalingIsOneOver256) {
    const TextureBW grey(write("grey.tga", tga(3, 3, 1, 8, {255, 128, 1})));
    EXPECT_EQ(0.99609375f, grey.pixels[0]);
    EXPECT_EQ(0.5f, grey.pixels[1]);
    EXPECT_EQ(0.00390625f, grey.pixels[2]);
    const float* out = nullptr;
    float buffer[3] = {-1.0f, -1.0f, -1.0f};
    out = grey.lookup(buffer, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(buffer, out);
    EXPECT_EQ(0.99609375f, out[0]);
    EXPECT_EQ(0.0f, out[1]);
    EXPECT_EQ(0.0f, out[2]);

    const Texture colour(write("white.tga", tga(2, 1, 1, 24, {255, 255, 255})));
    expectColor(Color(0.99609375f, 0.99609375f, 0.99609375f), colorAt(colour, 0.0f, 0.0f));
}

TEST(FloatMapTest, DeliversValueInFirstComponent) {
    const FloatMap map(0.8f);
    float out[3] = {-1.0f, -1.0f, -1.0f};
    EXPECT_EQ(out, map.lookup(out, 0.3f, 0.7f, 0.0f));
    EXPECT_EQ(0.8f, out[0]);
    EXPECT_EQ(0.0f, out[1]);
    EXPECT_EQ(0.0f, out[2]);
}

TEST_F(TextureFiles, ImageIdIsSkipped) {
    const Texture colour(write("id.tga", tga(2, 1, 1, 24, {10, 20, 30}, 5)));
    expectColor(Color(30.0f / 256.0f, 20.0f / 256.0f, 10.0f / 256.0f), colour.pixels[0]);
    const TextureBW grey(write("idgrey.tga", tga(3, 2, 1, 8, {7, 9}, 3)));
    EXPECT_EQ(7.0f / 256.0f, grey.pixels[0]);
    EXPECT_EQ(9.0f / 256.0f, grey.pixels[1]);
}

TEST_F(TextureFiles, BytesAfterThePixelsAreIgnored) {
    std::vector<std::uint8_t> bytes = tga(3, 2, 1, 8, {7, 9});
    bytes.insert(bytes.end(), 26, 0xee);
    const TextureBW grey(write("footer.tga", bytes));
    ASSERT_EQ(2u, grey.pixels.size());
    EXPECT_EQ(9.0f / 256.0f, grey.pixels[1]);
}

TEST_F(TextureFiles, MissingFileNamesThePath) {
    const std::string path = (dir / "absent.tga").string();
    EXPECT_EQ("Error reading file: " + path, fatalText([&] { Texture texture(path); }));
    EXPECT_EQ("Error reading file: " + path, fatalText([&] { TextureBW texture(path); }));
}

TEST_F(TextureFiles, DirectoryCannotBeRead) {
    EXPECT_EQ("Error reading file: " + dir.string(), fatalText([&] { Texture texture(dir.string()); }));
}

void expectOneLineNaming(const std::string& path, const std::string& text, const std::string& problem) {
    EXPECT_EQ(0u, text.rfind("Error reading file " + path + ": ", 0)) << text;
    EXPECT_NE(std::string::npos, text.find(problem)) << text;
    EXPECT_EQ(std::string::npos, text.find('\n')) << text;
}

TEST_F(TextureFiles, FileShorterThanTheHeaderIsRefused) {
    const std::string path = write("short.tga", std::vector<std::uint8_t>(17, 0));
    expectOneLineNaming(path, fatalText([&] { Texture texture(path); }), "17 bytes");
    const std::string empty = write("empty.tga", {});
    expectOneLineNaming(empty, fatalText([&] { TextureBW texture(empty); }), "0 bytes");
}

TEST_F(TextureFiles, ZeroSizeIsRefused) {
    const std::string noWidth = write("nowidth.tga", tga(2, 0, 4, 24, std::vector<std::uint8_t>(64, 1)));
    expectOneLineNaming(noWidth, fatalText([&] { Texture texture(noWidth); }), "0 x 4");
    const std::string noHeight = write("noheight.tga", tga(3, 4, 0, 8, std::vector<std::uint8_t>(64, 1)));
    expectOneLineNaming(noHeight, fatalText([&] { TextureBW texture(noHeight); }), "4 x 0");
}

TEST_F(TextureFiles, HeaderPromisingMorePixelsThanTheFileHoldsIsRefused) {
    const std::string path = write("truncated.tga", tga(2, 256, 256, 24, std::vector<std::uint8_t>(1000, 7)));
    const std::string text = fatalText([&] { Texture texture(path); });
    expectOneLineNaming(path, text, "256 x 256");
    EXPECT_NE(std::string::npos, text.find("196608")) << text;
    EXPECT_NE(std::string::npos, text.find("1000")) << text;

    // One byte short: a grey 2x2 needs 4 bytes.
    const std::string grey = write("onebyteshort.tga", tga(3, 2, 2, 8, {1, 2, 3}));
    expectOneLineNaming(grey, fatalText([&] { TextureBW texture(grey); }), "2 x 2");
    // Four bytes follow the header, but the first of them is the image ID.
    const std::string withId = write("idshort.tga", tga(3, 2, 2, 8, {1, 2, 3}, 1));
    expectOneLineNaming(withId, fatalText([&] { TextureBW texture(withId); }), "2 x 2");
}

TEST_F(TextureFiles, RunLengthEncodedImagesAreRefused) {
    for (const std::uint8_t type : {9, 10, 11}) {
        const std::string path = write("rle" + std::to_string(type) + ".tga",
                                       tga(type, 2, 2, 24, std::vector<std::uint8_t>(12, 0)));
        expectOneLineNaming(path, fatalText([&] { Texture texture(path); }), "run-length encoded");
        expectOneLineNaming(path, fatalText([&] { TextureBW texture(path); }), "run-length encoded");
    }
}

TEST_F(TextureFiles, OtherImageTypesAreReadAsTheyStand) {
    // Nothing but compression is checked: a grey file read as colour takes its bytes as BGR triples.
    const Texture texture(write("type3.tga", tga(3, 1, 1, 8, {10, 20, 30})));
    expectColor(Color(30.0f / 256.0f, 20.0f / 256.0f, 10.0f / 256.0f), texture.pixels[0]);
}

// The pixel the unbounded rule picks for a large coordinate, in double precision: x is a whole float
// there, so the weight is all on one pixel.
std::int64_t wrappedIndex(float coordinate, int width, int period) {
    const float scaled = std::fabs(coordinate) * static_cast<float>(width);
    return static_cast<std::int64_t>(std::fmod(static_cast<double>(scaled), static_cast<double>(period)));
}

TEST_F(TextureFiles, HugeCoordinatesWrapLikeSmallOnes) {
    // 3x2 grey with distinct values, so the chosen pixel can be told apart.
    const std::vector<std::uint8_t> values = {10, 20, 30, 40, 50, 60};
    const TextureBW texture(write("grey3x2.tga", tga(3, 3, 2, 8, values)));
    const float huge[] = {
        1.0e10f, -1.0e10f, 3.0e9f, 7.0e12f, 1.0e30f, -1.0e38f, 2147483648.0f / 3.0f + 4096.0f};
    for (const float s : huge) {
        for (const float t : huge) {
            const std::int64_t x = wrappedIndex(s, 3, 3);
            const std::int64_t y = wrappedIndex(t, 3, 2);
            EXPECT_EQ(static_cast<float>(values[static_cast<std::size_t>(y * 3 + x)]) / 256.0f,
                      valueAt(texture, s, t))
                << "s " << s << " t " << t;
        }
    }
}

TEST_F(TextureFiles, NanAndInfiniteCoordinatesReadAtZero) {
    const Texture texture(redGreenBlueWhite());
    const Color origin = colorAt(texture, 0.0f, 0.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    expectColor(origin, colorAt(texture, nan, 0.0f));
    expectColor(origin, colorAt(texture, 0.0f, nan));
    expectColor(origin, colorAt(texture, nan, nan));
    expectColor(origin, colorAt(texture, inf, -inf));
    // The other coordinate still counts.
    expectColor(Color(0, 0, full), colorAt(texture, nan, 0.5f));

    const TextureBW grey(write("grey.tga", tga(3, 2, 1, 8, {100, 200})));
    EXPECT_FLOAT_EQ(100.0f / 256.0f, valueAt(grey, nan, -nan));
    EXPECT_FLOAT_EQ(100.0f / 256.0f, valueAt(grey, -inf, inf));
}

TEST(TextureRealFiles, UpDownHasRedUpInTheLastStoredRowsAndBlueDownInTheFirst) {
    // The file is stored bottom-up, so its first stored rows are the bottom of the picture (blue
    // "DOWN") and its last the top (red "UP"). Row 0 here is the first stored row.
    const Texture texture(testdata + "updown.tga");
    ASSERT_EQ(256, texture.width);
    ASSERT_EQ(256, texture.height);
    int red[2] = {0, 0};
    int blue[2] = {0, 0};
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const Color& p = texture.pixels[static_cast<std::size_t>(y) * 256 + x];
            const int half = y < 128 ? 0 : 1;
            if (p.r > 0.6f && p.g < 0.3f && p.b < 0.3f) {
                ++red[half];
            }
            if (p.b > 0.6f && p.r < 0.3f && p.g < 0.3f) {
                ++blue[half];
            }
        }
    }
    EXPECT_GT(red[1], 200);
    EXPECT_GT(blue[0], 200);
    EXPECT_GT(red[1], 20 * red[0]);
    EXPECT_GT(blue[0], 20 * blue[1]);
    // Every value is a byte over 256.
    for (const Color& p : texture.pixels) {
        ASSERT_LE(p.r, full);
        ASSERT_EQ(p.r, std::floor(p.r * 256.0f) / 256.0f);
    }
}

TEST(TextureRealFiles, GreyBottomUpAndTopDownFilesAreRowMirrors) {
    const TextureBW bottomUp(testdata + "200x32_l_bl_raw.tga");
    const TextureBW topDown(testdata + "200x32_l_tl_raw.tga");
    ASSERT_EQ(200, bottomUp.width);
    ASSERT_EQ(32, bottomUp.height);
    ASSERT_EQ(200, topDown.width);
    ASSERT_EQ(32, topDown.height);
    bool rowsDiffer = false;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 200; ++x) {
            ASSERT_EQ(bottomUp.pixels[static_cast<std::size_t>(y) * 200 + x],
                      topDown.pixels[static_cast<std::size_t>(31 - y) * 200 + x])
                << "x " << x << " y " << y;
            if (bottomUp.pixels[static_cast<std::size_t>(y) * 200 + x] != bottomUp.pixels[x]) {
                rowsDiffer = true;
            }
        }
    }
    // Otherwise the mirror check would prove nothing.
    EXPECT_TRUE(rowsDiffer);
    bool notSymmetric = false;
    for (int y = 0; y < 16 && !notSymmetric; ++y) {
        for (int x = 0; x < 200; ++x) {
            if (bottomUp.pixels[static_cast<std::size_t>(y) * 200 + x] !=
                bottomUp.pixels[static_cast<std::size_t>(31 - y) * 200 + x]) {
                notSymmetric = true;
                break;
            }
        }
    }
    EXPECT_TRUE(notSymmetric);
}

TEST(TextureRealFiles, RunLengthEncodedFileIsRefusedInOneLine) {
    const std::string path = testdata + "200x32_rgb_bl_rle.tga";
    const std::string text = fatalText([&] { Texture texture(path); });
    expectOneLineNaming(path, text, "run-length encoded");
}

} // namespace
} // namespace Raytracer
