#include "app/Startup.h"

#include "animation/SceneLoader.h"
#include "app/AppState.h"
#include "math/FatalError.h"
#include "render/FrameBuffer.h"
#include "render/Renderer.h"
#include "scene/Scene.h"
#include "shading/Light.h"

#include <new>

namespace Raytracer {

void initialiseRenderer(AppState& app) {
    try {
        app.frameBuffer = new FrameBuffer(app.imageWidth, app.imageHeight);
    } catch (const std::bad_alloc& e) {
        throw FatalError(std::string("An exception occurred: ") + e.what(),
                         FatalError::Stream::standardOutput);
    }
    app.renderer = new Renderer(app.imageWidth, app.imageHeight, app.bucketSize, app.frameBuffer->pixels());
    loadScene(*app.renderer->scene, *app.renderer->pool, app.sceneDirectory);

    RenderSettings& settings = *app.renderer->settings;
    settings.areaLightSubdivisions = app.startAreaLightSubdivisions;
    settings.traceDepth = app.startTraceDepth;
    settings.reflectionSamples = app.startReflectionSamples;
    settings.antiAliasing = app.startWithAntiAliasing;
    if (Light* light = app.renderer->scene->firstLight()) {
        light->type = app.startWithAreaLight ? Light::areaSampling : Light::pointSampling;
    }
}

void releaseRenderer(AppState& app) {
    delete app.renderer;
    app.renderer = nullptr;
    delete app.frameBuffer;
    app.frameBuffer = nullptr;
}

} // namespace Raytracer
