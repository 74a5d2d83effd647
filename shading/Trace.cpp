#include "render/BucketWorker.h"

namespace Raytracer {

// Temporary direction preview until the scene can be intersected: maps the unit ray direction to a
// colour gradient so that the camera, the bucket grid and anti-aliasing can be seen working.
void BucketWorker::trace(const Ray& ray, Color& result, int /*depth*/, float /*mediumIndex*/, float& distance,
                         int /*reflectionSamples*/, int /*areaLightSubdivisions*/, float /*reflectionWeight*/,
                         float /*areaLightWeight*/) {
    distance = 10000.0f;
    const Vector3& d = ray.direction;
    result += Color(0.5f * (d.x + 1.0f), 0.5f * (d.y + 1.0f), 0.5f * (d.z + 1.0f));
}

} // namespace Raytracer
