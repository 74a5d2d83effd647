#include "tools/import/ImportOptions.h"

#include "math/FatalError.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

namespace Raytracer::Import {

namespace {

// The number value holds entirely, or nothing.
std::optional<double> number(const std::string& value) {
    char* end = nullptr;
    const double parsed = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(parsed)) {
        return std::nullopt;
    }
    return parsed;
}

} // namespace

std::string importUsage() {
    return "usage: lumenbox-import MODEL --as object|" + slotNames() +
           " --out DIR [--height H] [--at X,Z] [--turn DEGREES]";
}

ImportOptions parseImportOptions(int argc, const char* const* argv) {
    ImportOptions options;
    const auto fail = [](const std::string& problem) { throw FatalError(problem + "; " + importUsage()); };
    bool slotGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            options.help = true;
            return options;
        }
        if (argument == "--as" || argument == "--out" || argument == "--height" || argument == "--at" ||
            argument == "--turn") {
            if (i + 1 >= argc) {
                fail(std::string(argument) + " needs a value");
            }
            const std::string value = argv[++i];
            if (argument == "--as") {
                options.asObject = value == "object";
                options.slot = findSlot(value);
                slotGiven = true;
                if (options.slot == nullptr && !options.asObject) {
                    fail("--as: no model slot called '" + value + "' (nor object)");
                }
            } else if (argument == "--out") {
                options.outDirectory = value;
            } else if (argument == "--height") {
                const std::optional<double> height = number(value);
                if (!height || *height <= 0.0) {
                    fail("--height: '" + value + "' is not a positive number");
                }
                options.height = height;
            } else if (argument == "--at") {
                const std::size_t comma = value.find(',');
                const std::optional<double> x = number(value.substr(0, comma));
                const std::optional<double> z =
                    comma == std::string::npos ? std::nullopt : number(value.substr(comma + 1));
                if (!x || !z) {
                    fail("--at: '" + value + "' is not two numbers X,Z");
                }
                options.at = std::array<double, 2>{*x, *z};
            } else {
                const std::optional<double> turn = number(value);
                if (!turn) {
                    fail("--turn: '" + value + "' is not a number of degrees");
                }
                options.turnDegrees = *turn;
            }
        } else if (argument.starts_with("--") || !options.model.empty()) {
            fail("unexpected argument '" + std::string(argument) + "'");
        } else {
            options.model = argument;
        }
    }
    if (options.model.empty() || !slotGiven || options.outDirectory.empty()) {
        fail("a model file, --as and --out are needed");
    }
    if (!options.asObject && (options.at || options.turnDegrees != 0.0)) {
        fail("--at and --turn place objects; a model slot has its own place");
    }
    return options;
}

} // namespace Raytracer::Import
