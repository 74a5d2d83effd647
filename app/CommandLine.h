#pragma once

#include "app/AppState.h"

#include <string>
#include <vector>

namespace Raytracer {

// Keys sent through the keyboard handler just before a frame is rendered.
struct TimedKeys {
    int frame = 1; // from 1
    std::string keys;
};

// Options only the headless renderer takes.
struct HeadlessOptions {
    int frames = 1;   // frames to render, each driven as the idle callback drives one
    std::string keys; // characters sent through the keyboard handler before the first frame
    std::vector<TimedKeys> timedKeys; // --keys-at, in command-line order
    // Image of the last frame, or of every frame (FrameFileName): PNG when it ends in .png, else binary PPM.
    std::string out;
    bool stats = false;  // a timing line per frame and a median line
    bool digest = false; // a line per frame with the digest of its float frame buffer
};

// The parsed command line: eight positional arguments (the first is ignored), then options.
struct CommandLine {
    enum class Outcome { run, help, error };

    Outcome outcome = Outcome::run;
    StartupSettings startup;
    HeadlessOptions headless;
    std::string error; // one line, without the program name, when outcome is error
};

// Exit status for a command line that cannot be run.
constexpr int usageExitStatus = 2;

// Arguments beginning with "--" are options and are taken out first; both programs take --meshes and
// --help, and headless enables the options of the headless renderer. Missing positional arguments keep
// their defaults.
CommandLine parseCommandLine(int argc, const char* const* argv, bool headless);

// The text --help prints.
std::string usageText(const std::string& program, bool headless);

// The number at the start of text as the C library's atoi reads it (leading blanks, a sign, digits;
// anything else gives 0), clamped to the int range where atoi would overflow.
int parseLeadingInt(const char* text);

} // namespace Raytracer
