#include "app/Overlay.h"

#include "app/AppState.h"
#include "render/Renderer.h"
#include "scene/Scene.h"
#include "shading/Light.h"

#include <cstdarg>
#include <cstdio>

namespace Raytracer {

namespace {

constexpr int overlayBufferSize = 13;

} // namespace

std::string formatOverlayText(const char* format, ...) {
    char buffer[overlayBufferSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

OverlayLayout layoutOverlay(const AppState& app, long nowTicks) {
    const Renderer& renderer = *app.renderer;
    const RenderSettings& settings = *renderer.settings;
    const float h = static_cast<float>(app.imageHeight);
    OverlayLayout layout;
    const auto status = [&](float x, float y, std::string text) {
        layout.status.push_back({OverlayFont::helvetica10, x, y, std::move(text)});
    };

    // Whole milliseconds, in double: a frame shown within its own millisecond reads as infinite.
    const double fps = 1.0 / (static_cast<double>(nowTicks - app.frameStartTicks) * 0.001);
    status(0, h - 10, "FPS:" + formatOverlayText("%f", fps));
    status(100, h - 10,
           "Area Lights Sub Div([,]):" + formatOverlayText("%d", settings.areaLightSubdivisions));
    status(250, h - 10, "Trace Depth(-,+):" + formatOverlayText("%d", settings.traceDepth));
    status(360, h - 10,
           "Reflection Diff Samples(k,l):" + formatOverlayText("%d", settings.reflectionSamples));
    status(0, h - 20, "Rays casted:" + formatOverlayText("%u", renderer.raysCast));
    status(250, h - 20, "Intersections:" + formatOverlayText("%u", renderer.intersections));
    const Light* light = renderer.scene->firstLight();
    status(355, h - 20,
           light == nullptr                     ? "Light (J): None"
           : light->type == Light::areaSampling ? "Light (J): Area"
                                                : "Light (J): Point");
    status(0, h - 30, settings.antiAliasing ? "AntiAliasing: On" : "AntiAliasing: Off");
    status(100, h - 30, "Robot animation:");
    if (const std::string state = robotStateName(renderer.robot); !state.empty()) {
        status(180, h - 30, state);
    }

    if (app.helpVisible) {
        layout.helpPanel = true;
        const float corners[4][2] = {{70, h - 60}, {440, h - 60}, {440, h - 250}, {70, h - 250}};
        for (int i = 0; i < 4; ++i) {
            layout.panel[i][0] = corners[i][0];
            layout.panel[i][1] = corners[i][1];
        }
        const auto help = [&](float x, float y, const char* text) {
            layout.help.push_back({OverlayFont::helvetica12, x, y, text});
        };
        help(80, h - 80, "Commands:");
        help(100, h - 90, "Robot commands:");
        help(120, h - 100, "Walk->C, Jump->G, Loop ->V, Crouch->B, Stop->H");
        help(100, h - 120, "Camera commands:");
        help(120, h - 130, "Up->W, Down->S, Left->A, Right->D");
        help(100, h - 150, "Reset to defaults->F2");
        help(100, h - 170, "Change type of light(Point/Area)->J");
        help(100, h - 190, "Moving Light on X axis->Y/U");
        help(100, h - 210, "Moving Light on Y axis->R/T");
        help(100, h - 230, "Anti-aliasing->O");
    }
    return layout;
}

} // namespace Raytracer
