// The command line of the viewer and of the headless renderer. Zero bytes separate the arguments,
// the first being the program name.

#include "app/CommandLine.h"
#include "math/FatalError.h"
#include "tests/fuzz/FuzzSupport.h"

#include <vector>

namespace {

using namespace Raytracer;

void parse(const std::vector<const char*>& argv, bool headless) {
    const CommandLine result = parseCommandLine(static_cast<int>(argv.size()) - 1, argv.data(), headless);
    if (result.outcome == CommandLine::Outcome::help) {
        volatile std::size_t sink = usageText(argv[0], headless).size();
        (void)sink;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One terminator more than the input holds ends the last argument.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    std::vector<const char*> argv;
    argv.push_back(text.data());
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '\0') {
            argv.push_back(&text[i + 1]);
        }
    }
    argv.push_back(nullptr);
    try {
        parse(argv, false);
        parse(argv, true);
    } catch (const FatalError&) {
    }
    return 0;
}
