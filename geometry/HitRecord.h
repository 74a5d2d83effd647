#pragma once

namespace Raytracer {

class Primitive;
class SceneGeometry;

// What a nearest-hit query reports. distance is the limit on entry and the nearest hit's distance on
// return (unchanged on a miss).
struct HitRecord {
    float distance = 10000.0f;
    const Primitive* primitive = nullptr;
    float u = 0.0f;                    // barycentric weight of corner b: hit = (1 - u - v) a + u b + v c
    float v = 0.0f;                    // barycentric weight of corner c
    SceneGeometry* instance = nullptr; // the moving part's sub-scene the hit lies in; null for the top level
};

} // namespace Raytracer
