// Renders buckets and holds the recursive ray tracing core: nearest hit, unlit environment, direct
// light with shadow rays, then blurred or mirror reflection and refraction with absorption. Tracing
// runs on the worker's thread and uses only its stack and the worker's own generator, shading model,
// scratch and counter.
#include "render/BucketWorker.h"

#include "geometry/HitRecord.h"
#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "render/Camera.h"
#include "render/RenderSettings.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "shading/Light.h"
#include "shading/Map.h"
#include "shading/Material.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <thread>

namespace Raytracer {

namespace {

// Distance a traced ray starts from: anything farther counts as no hit.
constexpr float noHitDistance = 10000.0f;

// Sample offsets inside a pixel, in pixel units from its lower-left corner, in tracing order.
constexpr float antiAliasingOffsets[4][2] = {{0.5f, 0.5f}, {0.5f, 1.0f}, {1.0f, 0.5f}, {1.0f, 1.0f}};

// Secondary and shadow rays start this far along their own direction, off the surface they leave.
constexpr float originOffset = 0.0001f;
// Area shadow rays stop just short of the sample point, so the light's own geometry does not block them.
constexpr float areaShadowLength = 0.9996f;
// Blurred reflection only at the first levels; deeper ones reflect as a mirror.
constexpr int blurredDepthLimit = 3;
// Absorption per unit of distance and of surface colour inside a transparent body.
constexpr float absorption = 0.15f;

// The scene holds KdTrees and Triangles only; both are final, so these calls are direct.
const KdTree& treeOf(const Scene& scene) {
    return *static_cast<const KdTree*>(scene.accelerator);
}

const Triangle& triangleOf(const Primitive* primitive) {
    return *static_cast<const Triangle*>(primitive);
}

float scalarAt(const Map* map, float s, float t) {
    float out[3];
    return map->lookup(out, s, t, 0.0f)[0];
}

Color colorAt(const Map* map, float s, float t) {
    float out[3];
    map->lookup(out, s, t, 0.0f);
    return {out[0], out[1], out[2]};
}

Vector3 offsetOrigin(const Vector3& point, const Vector3& direction) {
    return {point.x + originOffset * direction.x, point.y + originOffset * direction.y,
            point.z + originOffset * direction.z};
}

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

void BucketWorker::trace(const Ray& ray, Color& result, int depth, float mediumIndex, float& distance,
                         int reflectionSamples, int areaLightSubdivisions, float reflectionWeight,
                         float areaLightWeight) {
    distance = noHitDistance;
    // A scene that was never given a tree (nothing loaded) has nothing to hit.
    if (scene->accelerator == nullptr) {
        return;
    }
    HitRecord record;
    record.distance = distance;
    const int facing = treeOf(*scene).intersectNearest(ray, record, *this);
    if (facing == 0) {
        return;
    }
    distance = record.distance;

    const Vector3& o = ray.origin;
    const Vector3& dir = ray.direction;
    const Vector3 P(o.x + distance * dir.x, o.y + distance * dir.y, o.z + distance * dir.z);
    const Triangle& triangle = triangleOf(record.primitive);
    float s = record.u;
    float t = record.v;
    float r = 0.0f;
    triangle.textureCoordinates(P, s, t, r);
    const Material& material = materialOf(triangle);

    Color surface = colorAt(material.color, 0.0f, 0.0f);
    if (material.colorTexture != nullptr) {
        surface = surface * colorAt(material.colorTexture, s, t);
    }
    if (triangle.type == Primitive::environment) {
        result += surface;
        return;
    }

    Vector3 N = triangle.normalAt(P, record.u, record.v);
    // A moving part's triangles lie in its local frame; its proxy's rotation turns the normal to world.
    if (record.instance != nullptr) {
        N = normalize(record.instance->proxy->rotation.rotate(N));
    }

    const float diffuse = scalarAt(material.diffuse, 0.0f, 0.0f);
    const float specular = scalarAt(material.specular, 0.0f, 0.0f);
    for (Light* light : scene->lights) {
        Vector3 L;
        float vis = lightVisibility(*light, P, L, areaLightSubdivisions, areaLightWeight);
        if (vis > 0.0f) {
            if (diffuse > 0.0f) {
                shading->diffuseTerm(L, N, vis, *light, triangle, surface, result);
            }
            if (specular > 0.0f) {
                shading->specularTerm(ray, triangle, *light, L, N, vis, result);
            }
        }
    }

    const int traceDepth = settings->traceDepth;
    const float reflectivity = scalarAt(material.reflectivity, 0.0f, 0.0f);
    if (reflectivity > 0.0f && depth < traceDepth) {
        const float m =
            material.reflectivityTexture != nullptr ? scalarAt(material.reflectivityTexture, s, t) : 1.0f;
        const float blur = scalarAt(material.reflectionBlur, 0.0f, 0.0f);
        const Vector3 R = shading->reflect(ray, N);
        if (blur > 0.0f && depth < blurredDepthLimit) {
            if (reflectionSamples > 0) {
                const float w = reflectivity * reflectionWeight;
                // Two directions across R to jitter it in; neither is normalised, V is R x U.
                const Vector3 U(R.z, R.y, -R.x);
                const Vector3 V(-R.x * R.y - R.z * R.y, R.x * R.x + R.z * R.z, R.x * R.y - R.y * R.z);
                for (int i = 0; i < reflectionSamples; ++i) {
                    const float a = (random->nextFloat() - 0.5f) * blur;
                    const float b = (random->nextFloat() - 0.5f) * blur;
                    const float bg = b * blur;
                    const Vector3 D = normalize(Vector3(R.x + a * U.x + bg * V.x, R.y + a * U.y + bg * V.y,
                                                        R.z + a * U.z + bg * V.z));
                    Color sample;
                    float sampleDistance;
                    trace(Ray{offsetOrigin(P, D), D}, sample, depth + 1, mediumIndex, sampleDistance,
                          reflectionSamples / 4, areaLightSubdivisions / 4, reflectionWeight * 4.0f,
                          areaLightWeight * 4.0f);
                    ++raysCast;
                    result.r += w * m * sample.r * surface.r;
                    result.g += w * m * sample.g * surface.g;
                    result.b += w * m * sample.b * surface.b;
                }
            }
        } else {
            Color sample;
            float sampleDistance;
            trace(Ray{offsetOrigin(P, R), R}, sample, depth + 1, mediumIndex, sampleDistance,
                  reflectionSamples / 2, areaLightSubdivisions / 2, reflectionWeight * 2.0f,
                  areaLightWeight * 2.0f);
            ++raysCast;
            result.r += reflectivity * m * sample.r * surface.r;
            result.g += reflectivity * m * sample.g * surface.g;
            result.b += reflectivity * m * sample.b * surface.b;
        }
    }

    const float transparency = scalarAt(material.transparency, 0.0f, 0.0f);
    if (transparency > 0.0f && depth < traceDepth) {
        const float n = scalarAt(material.refractionIndex, 0.0f, 0.0f);
        const float eta = mediumIndex / n;
        // The hit's facing turns the normal towards the incoming ray, from either side of the surface.
        const float flip = -static_cast<float>(facing);
        const Vector3 Nr(flip * N.x, flip * N.y, flip * N.z);
        float c = -dot(Nr, dir);
        float k = 1.0f - eta * eta * (1.0f - c * c);
        // k <= 0 is total internal reflection: nothing passes.
        if (k > 0.0f) {
            const Vector3 T = shading->refract(ray, Nr, eta, c, k);
            Color sample;
            float travelled;
            trace(Ray{offsetOrigin(P, T), T}, sample, depth + 1, n, travelled, reflectionSamples / 2,
                  areaLightSubdivisions / 2, reflectionWeight * 2.0f, areaLightWeight * 2.0f);
            ++raysCast;
            // The surface colour is the absorption coefficient; a ray that escapes travels 10000.
            result.r += std::exp(-absorption * surface.r * travelled) * sample.r;
            result.g += std::exp(-absorption * surface.g * travelled) * sample.g;
            result.b += std::exp(-absorption * surface.b * travelled) * sample.b;
        }
    }
}

float BucketWorker::lightVisibility(Light& light, const Vector3& point, Vector3& L, int subdivisions,
                                    float weight) {
    const Vector3 toLight = light.position - point;
    const float length = std::sqrt(toLight.x * toLight.x + toLight.y * toLight.y + toLight.z * toLight.z);
    L = Vector3(toLight.x / length, toLight.y / length, toLight.z / length);
    const KdTree& tree = treeOf(*scene);

    if (light.type == Light::pointSampling) {
        ++raysCast;
        return tree.occluded(Ray{offsetOrigin(point, L), L}, length, *this) == 0 ? 1.0f : 0.0f;
    }

    // The seed hashes the point and the sample index into the generator's table; it draws nothing, so
    // a still scene samples the same points every frame.
    const std::uint32_t pointBits =
        std::bit_cast<std::uint32_t>(point.x) ^ std::bit_cast<std::uint32_t>(point.y);
    const std::uint32_t zBits = std::bit_cast<std::uint32_t>(point.z);
    float sum = 0.0f;
    for (int i = 0; i < subdivisions; ++i) {
        std::uint32_t seed = pointBits ^ static_cast<std::uint32_t>(i) ^ zBits;
        const Vector3 q = light.samplePoint(*random, seed);
        ++raysCast;
        const Vector3 d = q - point;
        const float l = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        const Vector3 D(d.x / l, d.y / l, d.z / l);
        if (tree.occluded(Ray{offsetOrigin(point, D), D}, areaShadowLength * l, *this) == 0) {
            sum += weight;
        }
    }
    return sum;
}

} // namespace Raytracer
