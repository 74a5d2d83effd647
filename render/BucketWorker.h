#pragma once

#include "geometry/HitRecord.h"
#include "geometry/Ray.h"
#include "geometry/TraversalScratch.h"
#include "math/Color.h"
#include "render/Counter.h"
#include "shading/PhongShading.h"
#include "shading/Twister.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Raytracer {

struct Camera;
class Light;
struct RenderSettings;
class Scene;

// Renders one square bucket of the image, each frame, on its own thread. It also carries everything a
// thread needs to trace: its generator, its shading model, its ray counter and its traversal scratch
// (stacks, mod3Table and the intersections counter), so tracing allocates nothing.
class BucketWorker : public TraversalScratch {
  public:
    BucketWorker(Scene* scene, int bucketSize, int bucketColumn, int bucketRow, Camera* camera,
                 int imageWidth, int imageHeight, Counter* trigger, RenderSettings* settings, Counter* done);
    BucketWorker(const BucketWorker&) = delete;
    BucketWorker& operator=(const BucketWorker&) = delete;

    // The thread's loop: wait for the trigger, render the bucket, signal done. Returns only after
    // requestStop().
    void run();

    // Makes run() return at its next release instead of rendering; the caller then signals the trigger.
    void requestStop() { m_stopRequested = true; }

    // One frame's work for this bucket, on the calling thread.
    void renderBucket();

    // The camera ray through image-plane point (sx, sy): origin at the eye, unit world direction.
    Ray primaryRay(float sx, float sy) const;

    // Follows one ray and adds the light it carries to result (which the caller zeroes). distance is
    // set to the nearest hit's distance, 10000 when nothing is hit.
    void trace(const Ray& ray, Color& result, int depth, float mediumIndex, float& distance,
               int reflectionSamples, int areaLightSubdivisions, float reflectionWeight,
               float areaLightWeight);

    // How much of light reaches point: 1 or 0 for a point-sampled light, else weight for each of
    // subdivisions shadow rays that reach a sample point unblocked. L becomes the unit direction from
    // point towards the light's position, whatever the sampling. known, when not null, is the
    // point-sampled answer, already traced.
    float lightVisibility(Light& light, const Vector3& point, Vector3& L, int subdivisions, float weight,
                          const float* known = nullptr);

    Camera* camera;
    float screenX = 0.0f; // image-plane lower-left corner of the current pixel
    float screenY = 0.0f;
    Scene* scene;
    int bucketSize;
    int bucketColumn;
    int bucketRow;
    int imageWidth;
    int imageHeight;
    // Every worker starts from the same seed, so a frame does not depend on which thread rendered what.
    std::unique_ptr<Twister> random;
    RenderSettings* settings;
    std::uint32_t raysCast = 0; // rays traced in the current bucket, primary and secondary
    Counter* trigger;           // this bucket's start counter
    Counter* done;              // the renderer's completion counter
    std::unique_ptr<PhongShading> shading;

  private:
    // The primary rays of one pass over the bucket (two rows, or one row of anti-aliased pixels), traced
    // together before any of them is shaded, and the point-light shadow rays of their hits. Neither
    // draws from the generator, so tracing them ahead leaves every draw, and so every pixel, as it was.
    struct PrimaryPass {
        std::vector<Ray> rays;
        std::vector<HitRecord> records;
        std::vector<int> facings;
        std::vector<float> visibility; // by ray, then light: 1 or 0 for point-sampled lights
        std::vector<Ray> shadowRays;
        std::vector<float> shadowLengths;
        std::vector<int> shadowBlocked;
        std::vector<int> shadowSlots; // index into visibility of each shadow ray
    };

    // Makes room in the pass for capacity rays and their shadow rays to lights lights.
    void reservePass(std::size_t capacity, std::size_t lights);
    // Traces rays[0, count) of the pass and the point-light shadow rays of their lit hits.
    void tracePass(int count);
    // What trace() does once the hit is known; pointVisibility holds the point-sampled lights' answers
    // by light, or is null to trace them here.
    void shade(const Ray& ray, const HitRecord& record, int facing, const float* pointVisibility, Color& result,
               int depth, float mediumIndex, float& distance, int reflectionSamples, int areaLightSubdivisions,
               float reflectionWeight, float areaLightWeight);

    PrimaryPass m_pass;
    bool m_stopRequested = false;
};

// The copyable function object a thread runs: it runs the pointed-to worker's loop.
class BucketRenderThread {
  public:
    explicit BucketRenderThread(BucketWorker* worker) : m_worker(worker) {}
    void operator()() const { m_worker->run(); }

  private:
    BucketWorker* m_worker;
};

} // namespace Raytracer
