// The TGA reader behind both textures, and their lookups at coordinates a scene can produce: far
// outside [0, 1], negative, infinite and NaN.

#include "math/FatalError.h"
#include "shading/Texture.h"
#include "shading/TextureBW.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace {

using namespace Raytracer;

constexpr float coordinates[] = {0.0f,
                                 0.5f,
                                 0.999999f,
                                 1.0f,
                                 -1.0f,
                                 -0.25f,
                                 1e10f,
                                 -1e30f,
                                 2147483648.0f,
                                 FLT_MAX,
                                 -FLT_MAX,
                                 FLT_MIN,
                                 std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN()};

// Sums the results so that the lookups cannot be optimised away; a NaN sum is fine.
void lookUpEverywhere(const Map& map) {
    volatile float sink = 0.0f;
    float out[3] = {0.0f, 0.0f, 0.0f};
    for (const float s : coordinates) {
        for (const float t : coordinates) {
            map.lookup(out, s, t, 0.0f);
            sink = sink + out[0] + out[1] + out[2];
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = Fuzz::scratchDirectory() + "/fuzz.tga";
    Fuzz::writeFile(path, data, size);
    // Separately, so that a file too short for colour is still read as grey.
    try {
        const Texture colour(path);
        lookUpEverywhere(colour);
    } catch (const FatalError&) {
    }
    try {
        const TextureBW grey(path);
        lookUpEverywhere(grey);
    } catch (const FatalError&) {
    }
    return 0;
}
