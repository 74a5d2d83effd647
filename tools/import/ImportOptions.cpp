#include "tools/import/ImportOptions.h"

#include "math/FatalError.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

namespace Raytracer::Import {

std::string importUsage() {
    return "usage: lumenbox-import MODEL.ms3d --as " + slotNames() + " --out DIR [--height H]";
}

ImportOptions parseImportOptions(int argc, const char* const* argv) {
    ImportOptions options;
    const auto fail = [](const std::string& problem) { throw FatalError(problem + "; " + importUsage()); };
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            options.help = true;
            return options;
        }
        if (argument == "--as" || argument == "--out" || argument == "--height") {
            if (i + 1 >= argc) {
                fail(std::string(argument) + " needs a value");
            }
            const std::string value = argv[++i];
            if (argument == "--as") {
                options.slot = findSlot(value);
                if (options.slot == nullptr) {
                    fail("--as: no model slot called '" + value + "'");
                }
            } else if (argument == "--out") {
                options.outDirectory = value;
            } else {
                char* end = nullptr;
                const double height = std::strtod(value.c_str(), &end);
                if (value.empty() || *end != '\0' || !std::isfinite(height) || height <= 0.0) {
                    fail("--height: '" + value + "' is not a positive number");
                }
                options.height = height;
            }
        } else if (argument.starts_with("--") || !options.model.empty()) {
            fail("unexpected argument '" + std::string(argument) + "'");
        } else {
            options.model = argument;
        }
    }
    if (options.model.empty() || options.slot == nullptr || options.outDirectory.empty()) {
        fail("a model file, --as and --out are needed");
    }
    return options;
}

} // namespace Raytracer::Import
