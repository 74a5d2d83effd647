#include "render/BucketWorker.h"

#include "render/Camera.h"
#include "render/RenderSettings.h"

#include <cmath>
#include <thread>

namespace Raytracer {

namespace {

// Distance a traced ray starts from: anything farther counts as no hit.
constexpr float noHitDistance = 10000.0f;

// Sample offsets inside a pixel, in pixel units from its lower-left corner, in tracing order.
constexpr float antiAliasingOffsets[4][2] = {{0.5f, 0.5f}, {0.5f, 1.0f}, {1.0f, 0.5f}, {1.0f, 1.0f}};

} // namespace

BucketWorker::BucketWorker(Scene* scene_, int bucketSize_, int bucketColumn_, int bucketRow_, Camera* camera_,
                           int imageWidth_, int imageHeight_, Counter* trigger_, RenderSettings* settings_,
                           Counter* done_)
    : camera(camera_), scene(scene_), bucketSize(bucketSize_), bucketColumn(bucketColumn_),
      bucketRow(bucketRow_), imageWidth(imageWidth_), imageHeight(imageHeight_), settings(settings_),
      trigger(trigger_), done(done_) {
    shading = std::make_unique<PhongShading>();
    random = std::make_unique<Twister>(Twister::workerSeed);
}

void BucketWorker::run() {
    for (;;) {
        waitCounter(*trigger);
        if (m_stopRequested) {
            return;
        }
        renderBucket();
        std::this_thread::yield();
        signalCounter(*done);
    }
}

Ray BucketWorker::primaryRay(float sx, float sy) const {
    const Vector3 w = camera->orientation.rotate(Vector3(sx, sy, camera->screenDistance));
    const float inv = 1.0f / std::sqrt(w.x * w.x + w.y * w.y + w.z * w.z);
    return Ray{camera->position, w * inv};
}

void BucketWorker::renderBucket() {
    // Read once per bucket: a key press between frames takes effect from the next released bucket.
    const int reflectionSamples = settings->reflectionSamples;
    const int areaLightSubdivisions = settings->areaLightSubdivisions;
    const float reflectionWeight = 1.0f / static_cast<float>(reflectionSamples);
    const float areaLightWeight = 1.0f / static_cast<float>(areaLightSubdivisions);

    raysCast = 0;
    intersections = 0;

    const float pixelWidth = camera->pixelWidth;
    const float pixelHeight = camera->pixelHeight;
    const float size = static_cast<float>(bucketSize);
    screenY = static_cast<float>(bucketRow) * pixelHeight * size + camera->screenBottom;
    for (int r = 0; r < bucketSize; ++r) {
        screenX = static_cast<float>(bucketColumn) * pixelWidth * size + camera->screenLeft;
        for (int c = 0; c < bucketSize; ++c) {
            const int p = (bucketRow * bucketSize + r) * imageWidth + bucketColumn * bucketSize + c;
            float distance = noHitDistance;
            Color pixel;
            if (settings->antiAliasing) {
                Color samples[4];
                for (int s = 0; s < 4; ++s) {
                    const Ray ray = primaryRay(screenX + antiAliasingOffsets[s][0] * pixelWidth,
                                               screenY + antiAliasingOffsets[s][1] * pixelHeight);
                    trace(ray, samples[s], 1, 1.0f, distance, reflectionSamples, areaLightSubdivisions,
                          reflectionWeight, areaLightWeight);
                }
                pixel = (samples[1] + samples[0] + samples[2] + samples[3]) * 0.25f;
                raysCast += 4;
            } else {
                const Ray ray = primaryRay(screenX + pixelWidth, screenY + pixelHeight);
                trace(ray, pixel, 1, 1.0f, distance, reflectionSamples, areaLightSubdivisions,
                      reflectionWeight, areaLightWeight);
                raysCast += 1;
            }
            settings->frameBuffer[p] = pixel;
            screenX += pixelWidth;
        }
        screenY += pixelHeight;
    }
}

} // namespace Raytracer
