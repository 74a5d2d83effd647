#include "app/CommandLine.h"

#include "app/FrameFileName.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Raytracer {

namespace {

// Beyond these the frame buffer index or the worker count would no longer fit the machine.
constexpr int maxImageSize = 16384;
constexpr long maxBucketCount = 65536;
constexpr int maxFrames = 100000000;

CommandLine failure(const std::string& message) {
    CommandLine result;
    result.outcome = CommandLine::Outcome::error;
    result.error = message;
    return result;
}

enum class OptionMatch { other, missingValue, withValue };

// Reads an option written as "--name value" or "--name=value".
OptionMatch matchOption(const std::string& arg, const std::string& name, int argc, const char* const* argv,
                        int& i, std::string& value) {
    if (arg == name) {
        if (i + 1 >= argc) {
            return OptionMatch::missingValue;
        }
        value = argv[++i];
        return OptionMatch::withValue;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
        return OptionMatch::withValue;
    }
    return OptionMatch::other;
}

bool parseFrameCount(const std::string& text, int& frames) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > maxFrames) {
        return false;
    }
    frames = static_cast<int>(value);
    return true;
}

} // namespace

int parseLeadingInt(const char* text) {
    errno = 0;
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

CommandLine parseCommandLine(int argc, const char* const* argv, bool headless) {
    CommandLine result;
    std::vector<const char*> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            positional.push_back(argv[i]);
            continue;
        }
        if (arg == "--help") {
            result.outcome = CommandLine::Outcome::help;
            return result;
        }
        // Both programs read the scene. File names are appended to the directory, so it keeps a final slash.
        if (std::string directory;
            matchOption(arg, "--meshes", argc, argv, i, directory) != OptionMatch::other) {
            if (directory.empty()) {
                return failure("--meshes needs a directory");
            }
            result.startup.sceneDirectory = directory.back() == '/' ? directory : directory + "/";
            continue;
        }
        if (!headless) {
            return failure("unknown option " + arg);
        }
        if (arg == "--stats") {
            result.headless.stats = true;
            continue;
        }
        if (arg == "--digest") {
            result.headless.digest = true;
            continue;
        }
        std::string value;
        if (const OptionMatch m = matchOption(arg, "--frames", argc, argv, i, value);
            m != OptionMatch::other) {
            if (m == OptionMatch::missingValue || !parseFrameCount(value, result.headless.frames)) {
                return failure("--frames needs a whole number from 1 to " + std::to_string(maxFrames) +
                               (m == OptionMatch::missingValue ? std::string() : " (got \"" + value + "\")"));
            }
            continue;
        }
        if (const OptionMatch m = matchOption(arg, "--keys", argc, argv, i, value); m != OptionMatch::other) {
            if (m == OptionMatch::missingValue) {
                return failure("--keys needs a string of key characters");
            }
            result.headless.keys = value;
            continue;
        }
        if (const OptionMatch m = matchOption(arg, "--keys-at", argc, argv, i, value);
            m != OptionMatch::other) {
            const std::size_t colon = value.find(':');
            TimedKeys timed;
            if (m == OptionMatch::missingValue || colon == std::string::npos ||
                !parseFrameCount(value.substr(0, colon), timed.frame)) {
                return failure("--keys-at needs FRAME:KEYS, FRAME a whole number from 1 to " +
                               std::to_string(maxFrames) +
                               (m == OptionMatch::missingValue ? std::string() : " (got \"" + value + "\")"));
            }
            timed.keys = value.substr(colon + 1);
            result.headless.timedKeys.push_back(std::move(timed));
            continue;
        }
        if (const OptionMatch m = matchOption(arg, "--out", argc, argv, i, value); m != OptionMatch::other) {
            if (m == OptionMatch::missingValue || value.empty()) {
                return failure("--out needs a file name");
            }
            if (const std::string problem = FrameFileName::problem(value); !problem.empty()) {
                return failure("--out " + value + ": " + problem);
            }
            result.headless.out = value;
            continue;
        }
        return failure("unknown option " + arg);
    }
    if (positional.size() > 8) {
        return failure("too many arguments: at most 8 are read, " + std::to_string(positional.size()) +
                       " given");
    }

    // Position 1 is read by nobody; it is kept for the command lines people already use.
    StartupSettings& s = result.startup;
    const auto at = [&](std::size_t position, int fallback) {
        return positional.size() >= position ? parseLeadingInt(positional[position - 1]) : fallback;
    };
    s.imageSize = at(2, s.imageSize);
    s.bucketSize = at(3, s.bucketSize);
    s.startAreaLightSubdivisions = at(4, s.startAreaLightSubdivisions);
    s.startTraceDepth = at(5, s.startTraceDepth);
    s.startReflectionSamples = at(6, s.startReflectionSamples);
    s.startWithAreaLight = at(7, 0) == 1;
    s.startWithAntiAliasing = at(8, 0) == 1;

    if (s.imageSize < 1 || s.imageSize > maxImageSize) {
        return failure("image size must be from 1 to " + std::to_string(maxImageSize) + " (got " +
                       std::to_string(s.imageSize) + ")");
    }
    if (s.bucketSize < 1) {
        return failure("bucket size must be at least 1 (got " + std::to_string(s.bucketSize) + ")");
    }
    const long perSide = s.imageSize / s.bucketSize;
    if (perSide * perSide > maxBucketCount) {
        return failure("bucket size " + std::to_string(s.bucketSize) + " makes " +
                       std::to_string(perSide * perSide) + " buckets, one thread each; at most " +
                       std::to_string(maxBucketCount) + " are allowed");
    }
    return result;
}

std::string usageText(const std::string& program, bool headless) {
    std::string text =
        "Usage: " + program +
        " [ignored [size [bucket [subdivisions [depth [samples [arealight [antialiasing]]]]]]]]";
    text += " [options]\n";
    text += headless ? "Renders frames of the Lumenbox scene without a window and writes the last one.\n"
                     : "Ray traces the animated Lumenbox scene in a window.\n";
    text += "\n"
            "  ignored       not read (kept for compatibility)\n"
            "  size          image width and height in pixels (default 512)\n"
            "  bucket        side of a square render bucket; one thread per bucket (default 16)\n"
            "  subdivisions  shadow rays per area light (default 16)\n"
            "  depth         trace depth, primary rays are depth 1 (default 6)\n"
            "  samples       rays per blurred reflection (default 8)\n"
            "  arealight     1 starts with the first light sampled as an area light (default 0)\n"
            "  antialiasing  1 starts with 2 x 2 anti-aliasing (default 0)\n";
    text += "\n"
            "Options:\n"
            "  --meshes DIR  read the scene, its materials, textures and models from DIR (default " +
            std::string(defaultSceneDirectory) + ")\n";
    if (headless) {
        text += "  --frames N    render N frames (default 1)\n"
                "  --keys KEYS   send each character to the keyboard handler before the first frame\n"
                "  --keys-at N:KEYS  the same just before frame N (repeatable)\n"
                "  --out FILE    write the last frame; PNG if FILE ends in .png, else binary PPM;\n"
                "                with a frame number in it (frames/%04d.png) write every frame\n"
                "  --stats       print the time and ray count of every frame, then the medians\n"
                "  --digest      print a digest of every frame's unrounded pixels, to compare builds\n";
    }
    text += "  --help        print this help\n";
    return text;
}

} // namespace Raytracer
