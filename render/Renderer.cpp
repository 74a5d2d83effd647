#include "render/Renderer.h"

#include "math/FatalError.h"
#include "scene/Scene.h"

#include <exception>
#include <string>

namespace Raytracer {

namespace {

FatalError allocationFailure(const char* what) {
    return FatalError(std::string("An exception occurred: ") + what, FatalError::Stream::standardOutput);
}

} // namespace

Renderer::Renderer(int imageWidth_, int imageHeight_, int bucketSize_, Color* frameBuffer)
    : camera(imageWidth_, imageHeight_), imageWidth(imageWidth_), imageHeight(imageHeight_),
      bucketSize(bucketSize_) {
    try {
        scene = std::make_unique<Scene>();
        pool = std::make_unique<KdPool>();
        settings = std::make_unique<RenderSettings>();
        settings->frameBuffer = frameBuffer;
        if (settings->frameBuffer == nullptr) {
            throw allocationFailure("");
        }
        bucketsDone = std::make_unique<Counter>(0);
        threads.assign(static_cast<std::size_t>(bucketCount()), nullptr);
    } catch (const std::bad_alloc& e) {
        throw allocationFailure(e.what());
    }
}

Renderer::~Renderer() {
    // Workers are blocked on their triggers between frames; release each one into its stop branch so
    // that nothing outlives the counters and scene it reads.
    for (std::size_t b = 0; b < workers.size(); ++b) {
        workers[b]->requestStop();
        signalCounter(bucketTriggers[b]);
    }
    threadGroup.join_all();
}

void Renderer::startWorkers() {
    const int count = bucketCount();
    try {
        bucketTriggers = std::make_unique<Counter[]>(static_cast<std::size_t>(count));
        workers.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < columns(); ++i) {
            for (int j = 0; j < rows(); ++j) {
                const int b = bucketSlot(i, j);
                bucketTriggers[b].store(0);
                workers[b] = std::make_unique<BucketWorker>(scene.get(), bucketSize, i, j, &camera,
                                                            imageWidth, imageHeight, &bucketTriggers[b],
                                                            settings.get(), bucketsDone.get());
                threads[b] = threadGroup.create_thread(BucketRenderThread(workers[b].get()));
            }
        }
    } catch (const std::exception& e) {
        throw allocationFailure(e.what());
    }
    workersPending = false;
    // The trees built at load keep their nodes and lists for ever; from here on the pool recycles
    // only what the per-frame rebuilds take.
    pool->setBase();
}

void Renderer::renderFrame() {
    if (workersPending) {
        startWorkers();
    }
    frameReady = false;
    if (!animating && !viewChanged) {
        return;
    }
    const int count = bucketCount();
    for (int b = 0; b < count; ++b) {
        signalCounter(bucketTriggers[b]);
    }
    for (int b = 0; b < count; ++b) {
        waitCounter(*bucketsDone);
    }
    // Unsigned sums wrap rather than overflow on huge frames.
    raysCast = 0;
    intersections = 0;
    for (int b = 0; b < count; ++b) {
        raysCast += workers[b]->raysCast;
        intersections += workers[b]->intersections;
    }
    frameReady = true;
    animationStep(robot, animationClock, animating, *scene, *pool);
    viewChanged = false;
}

} // namespace Raytracer
