#include "app/AppState.h"

namespace Raytracer {

void AppState::apply(const StartupSettings& startup) {
    imageWidth = startup.imageSize;
    imageHeight = startup.imageSize;
    bucketSize = startup.bucketSize;
    startAreaLightSubdivisions = startup.startAreaLightSubdivisions;
    startTraceDepth = startup.startTraceDepth;
    startReflectionSamples = startup.startReflectionSamples;
    startWithAreaLight = startup.startWithAreaLight;
    startWithAntiAliasing = startup.startWithAntiAliasing;
    sceneDirectory = startup.sceneDirectory;
}

} // namespace Raytracer
