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

#include <algorithm>
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

Vector3 hitPoint(const Ray& ray, float distance) {
    const Vector3& o = ray.origin;
    const Vector3& d = ray.direction;
    return {o.x + distance * d.x, o.y + distance * d.y, o.z + distance * d.z};
}

// Sets L to the unit direction from point to target and returns the distance between them.
float towards(const Vector3& target, const Vector3& point, Vector3& L) {
    const Vector3 to = target - point;
    const float length = std::sqrt(to.x * to.x + to.y * to.y + to.z * to.z);
    L = Vector3(to.x / length, to.y / length, to.z / length);
    return length;
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
    // Sized here, on the thread that makes the workers, for a pass without anti-aliasing: memory a worker
    // thread allocates pulls it into a malloc arena of its own, which stays resident.
    reservePass(static_cast<std::size_t>(2 * bucketSize), scene != nullptr ? scene->lights.size() : 0);
}

void BucketWorker::reservePass(std::size_t capacity, std::size_t lights) {
    if (m_pass.rays.size() >= capacity && m_pass.visibility.size() >= capacity * lights) {
        return;
    }
    m_pass.rays.resize(capacity);
    m_pass.records.resize(capacity);
    m_pass.facings.resize(capacity);
    m_pass.visibility.resize(capacity * lights);
    m_pass.shadowRays.resize(capacity * lights);
    m_pass.shadowLengths.resize(capacity * lights);
    m_pass.shadowBlocked.resize(capacity * lights);
    m_pass.shadowSlots.resize(capacity * lights);
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
    const bool antiAliasing = settings->antiAliasing;

    raysCast = 0;
    intersections = 0;

    // A pass is two rows cut into 2 x 2 pixel packets, or one row of anti-aliased pixels whose four
    // samples make a packet.
    const int rowsPerPass = antiAliasing ? 1 : 2;
    const int raysPerPixel = antiAliasing ? 4 : 1;
    const std::size_t lights = scene->lights.size();
    const auto capacity = static_cast<std::size_t>(rowsPerPass * raysPerPixel) * static_cast<std::size_t>(bucketSize);
    reservePass(capacity, lights);

    const float pixelWidth = camera->pixelWidth;
    const float pixelHeight = camera->pixelHeight;
    const float size = static_cast<float>(bucketSize);
    const float left = static_cast<float>(bucketColumn) * pixelWidth * size + camera->screenLeft;
    screenY = static_cast<float>(bucketRow) * pixelHeight * size + camera->screenBottom;
    // The slot of pixel (row of the pass, column): its four samples in a row, or its place in the packet
    // of its 2 x 2 block.
    const auto slotOf = [&](int rows, int row, int column) {
        if (antiAliasing) {
            return column * 4;
        }
        const int blockStart = column - column % 2;
        return blockStart * rows + row * std::min(2, bucketSize - blockStart) + column % 2;
    };
    for (int r = 0; r < bucketSize; r += rowsPerPass) {
        const int rows = std::min(rowsPerPass, bucketSize - r);
        // The image-plane corners advance by repeated addition, pixel by pixel and row by row.
        float y = screenY;
        for (int row = 0; row < rows; ++row) {
            float x = left;
            for (int c = 0; c < bucketSize; ++c) {
                Ray* rays = &m_pass.rays[static_cast<std::size_t>(slotOf(rows, row, c))];
                if (antiAliasing) {
                    for (int s = 0; s < 4; ++s) {
                        rays[s] = primaryRay(x + antiAliasingOffsets[s][0] * pixelWidth,
                                             y + antiAliasingOffsets[s][1] * pixelHeight);
                    }
                } else {
                    rays[0] = primaryRay(x + pixelWidth, y + pixelHeight);
                }
                x += pixelWidth;
            }
            y += pixelHeight;
        }
        tracePass(rows * bucketSize * raysPerPixel);

        for (int row = 0; row < rows; ++row) {
            screenX = left;
            for (int c = 0; c < bucketSize; ++c) {
                const int p = (bucketRow * bucketSize + r + row) * imageWidth + bucketColumn * bucketSize + c;
                const auto slot = static_cast<std::size_t>(slotOf(rows, row, c));
                const auto shadeSample = [&](std::size_t at, Color& color) {
                    float distance = noHitDistance;
                    if (m_pass.facings[at] != 0) {
                        // Through data(): a scene without lights has no visibility to index.
                        shade(m_pass.rays[at], m_pass.records[at], m_pass.facings[at],
                              m_pass.visibility.data() + at * lights, color, 1, 1.0f, distance, reflectionSamples,
                              areaLightSubdivisions, reflectionWeight, areaLightWeight);
                    }
                };
                Color pixel;
                if (antiAliasing) {
                    Color samples[4];
                    for (std::size_t s = 0; s < 4; ++s) {
                        shadeSample(slot + s, samples[s]);
                    }
                    pixel = (samples[1] + samples[0] + samples[2] + samples[3]) * 0.25f;
                    raysCast += 4;
                } else {
                    shadeSample(slot, pixel);
                    raysCast += 1;
                }
                settings->frameBuffer[p] = pixel;
                screenX += pixelWidth;
            }
            screenY += pixelHeight;
        }
    }
}

void BucketWorker::tracePass(int count) {
    const auto n = static_cast<std::size_t>(count);
    for (std::size_t i = 0; i < n; ++i) {
        m_pass.records[i] = HitRecord{};
        m_pass.records[i].distance = noHitDistance;
        m_pass.facings[i] = 0;
    }
    // A scene that was never given a tree (nothing loaded) has nothing to hit.
    if (scene->accelerator == nullptr) {
        return;
    }
    const KdTree& tree = treeOf(*scene);
    tree.intersectNearest(m_pass.rays.data(), m_pass.records.data(), m_pass.facings.data(), count, *this);
    // Ray by ray for each light, so that a packet holds neighbouring hits aiming at one light.
    const std::size_t lights = scene->lights.size();
    std::size_t shadows = 0;
    for (std::size_t light = 0; light < lights; ++light) {
        const Light& source = *scene->lights[light];
        if (source.type != Light::pointSampling) {
            continue;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (m_pass.facings[i] == 0 || triangleOf(m_pass.records[i].primitive).type == Primitive::environment) {
                continue;
            }
            const Vector3 P = hitPoint(m_pass.rays[i], m_pass.records[i].distance);
            Vector3 L;
            const float length = towards(source.position, P, L);
            m_pass.shadowRays[shadows] = Ray{offsetOrigin(P, L), L};
            m_pass.shadowLengths[shadows] = length;
            m_pass.shadowSlots[shadows] = static_cast<int>(i * lights + light);
            ++shadows;
        }
    }
    tree.occluded(m_pass.shadowRays.data(), m_pass.shadowLengths.data(), m_pass.shadowBlocked.data(),
                  static_cast<int>(shadows), *this);
    for (std::size_t k = 0; k < shadows; ++k) {
        m_pass.visibility[static_cast<std::size_t>(m_pass.shadowSlots[k])] = m_pass.shadowBlocked[k] == 0 ? 1.0f : 0.0f;
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
    shade(ray, record, facing, nullptr, result, depth, mediumIndex, distance, reflectionSamples, areaLightSubdivisions,
          reflectionWeight, areaLightWeight);
}

void BucketWorker::shade(const Ray& ray, const HitRecord& record, int facing, const float* pointVisibility,
                         Color& result, int depth, float mediumIndex, float& distance, int reflectionSamples,
                         int areaLightSubdivisions, float reflectionWeight, float areaLightWeight) {
    distance = record.distance;

    const Vector3& dir = ray.direction;
    const Vector3 P = hitPoint(ray, distance);
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
    for (std::size_t index = 0; index < scene->lights.size(); ++index) {
        Light* light = scene->lights[index];
        Vector3 L;
        float vis = lightVisibility(*light, P, L, areaLightSubdivisions, areaLightWeight,
                                    pointVisibility != nullptr ? pointVisibility + index : nullptr);
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
                                    float weight, const float* known) {
    const float length = towards(light.position, point, L);
    const KdTree& tree = treeOf(*scene);

    if (light.type == Light::pointSampling) {
        ++raysCast;
        if (known != nullptr) {
            return *known;
        }
        return tree.occluded(Ray{offsetOrigin(point, L), L}, length, *this) == 0 ? 1.0f : 0.0f;
    }

    // The seed hashes the point and the sample index into the generator's table; it draws nothing, so
    // a still scene samples the same points every frame, and the samples of one point can be traced
    // together, a bundle at a time from one origin.
    const std::uint32_t pointBits =
        std::bit_cast<std::uint32_t>(point.x) ^ std::bit_cast<std::uint32_t>(point.y);
    const std::uint32_t zBits = std::bit_cast<std::uint32_t>(point.z);
    constexpr int bundle = 16;
    Ray rays[bundle];
    float lengths[bundle];
    int blocked[bundle];
    float sum = 0.0f;
    for (int first = 0; first < subdivisions; first += bundle) {
        const int count = std::min(bundle, subdivisions - first);
        for (int k = 0; k < count; ++k) {
            std::uint32_t seed = pointBits ^ static_cast<std::uint32_t>(first + k) ^ zBits;
            const Vector3 q = light.samplePoint(*random, seed);
            ++raysCast;
            const Vector3 d = q - point;
            const float l = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            const Vector3 D(d.x / l, d.y / l, d.z / l);
            rays[k] = Ray{offsetOrigin(point, D), D};
            lengths[k] = areaShadowLength * l;
        }
        tree.occluded(rays, lengths, blocked, count, *this);
        for (int k = 0; k < count; ++k) {
            if (blocked[k] == 0) {
                sum += weight;
            }
        }
    }
    return sum;
}

} // namespace Raytracer
