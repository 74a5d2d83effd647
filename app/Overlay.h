#pragma once

#include <string>
#include <vector>

namespace Raytracer {

struct AppState;

enum class OverlayFont { helvetica10, helvetica12 };

// One run of text drawn from a raster position.
struct OverlayText {
    OverlayFont font;
    float x;
    float y;
    std::string text;
};

// Everything the display draws over the image, in drawing order, in window pixels with the origin at
// the bottom-left. The GLUT shell only replays it.
struct OverlayLayout {
    std::vector<OverlayText> status;
    bool helpPanel = false;
    float panel[4][2] = {}; // corners of the translucent help quad, in drawing order
    std::vector<OverlayText> help;
};

// Lays out the overlay for the current state; nowTicks is the millisecond clock at display time.
OverlayLayout layoutOverlay(const AppState& app, long nowTicks);

// printf-style formatting bounded to the overlay's 13-character text buffer (12 visible characters).
std::string formatOverlayText(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace Raytracer
