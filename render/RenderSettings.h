#pragma once

#include "math/Color.h"

namespace Raytracer {

// Shared by pointer between the GLUT thread and every worker. Written only between frames (the
// counter hand-off orders those writes before the workers' next reads), so workers read it unlocked.
struct RenderSettings {
    static constexpr int defaultAreaLightSubdivisions = 16;
    static constexpr int defaultTraceDepth = 6;
    static constexpr int defaultReflectionSamples = 8;

    Color* frameBuffer = nullptr;                             // the application's frame buffer pixels
    int areaLightSubdivisions = defaultAreaLightSubdivisions; // shadow rays per area light
    int traceDepth = defaultTraceDepth;                       // deepest recursion level, primary rays are 1
    int reflectionSamples = defaultReflectionSamples;         // rays per blurred reflection
    bool antiAliasing = false;                                // four samples per pixel
};

} // namespace Raytracer
