// lumenbox-peer-bench: our kd-trees against Embree on the same rays through the same geometry, on one
// thread each. The rays are the default camera's primary rays through the shipped scene at animated
// frame 40 and the shadow rays from their hits on lit surfaces to the first light as a point light,
// exactly as the renderer casts them. Embree answers them twice: with its own two-level instancing
// (a sub-scene per object and per joint, placed by the proxies' transforms) and with every triangle
// flattened into one world-space scene. Each set is then traced again in groups, the renderer's
// packets: ours through the packet walks, Embree through its four- and eight-ray packet queries, on
// primary rays, point-light shadow rays and the area-light bundles of 16 samples from each lit hit.
// Prints the rates and the ratios, then checks that both answer alike and that our packets answer
// as our single rays do; exits 1 when they do not.
#include "animation/AnimationClock.h"
#include "app/AppState.h"
#include "app/HeadlessWindow.h"
#include "app/InputHandler.h"
#include "app/Startup.h"
#include "geometry/HitRecord.h"
#include "geometry/InstancePlacement.h"
#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "math/FatalError.h"
#include "render/BucketWorker.h"
#include "render/Renderer.h"
#include "scene/Scene.h"
#include "geometry/Vertex.h"
#include "shading/Light.h"
#include "shading/RandomGenerator.h"
#include "shading/Twister.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

using namespace Raytracer;

namespace {

constexpr int frame = 40;
// What the renderer's trace uses: the search limit of every ray, how far secondary rays start off
// the surface they leave, how short of the sample point an area shadow ray stops, and the samples
// of an area light per hit.
constexpr float startDistance = 10000.0f;
constexpr float originOffset = 0.0001f;
constexpr float areaShadowLength = 0.9996f;
constexpr int areaSamples = 16;
// Each query set is timed this many times; the median counts.
constexpr int repetitions = 5;
// Agreement the two tracers must reach.
constexpr double primaryAgreement = 0.999;
constexpr double shadowAgreement = 0.995;
constexpr double distanceAgreement = 0.999;
constexpr double distanceTolerance = 1e-4;

struct ShadowRay {
    Ray ray;
    float length;
};

// The primary rays with the rounding of BucketWorker::renderBucket (no anti-aliasing), in the order it
// traces them: bucket by bucket, two rows at a time, each 2 x 2 block of pixels a packet.
std::vector<Ray> primaryRays(const Renderer& renderer, BucketWorker& worker) {
    std::vector<Ray> rays;
    const Camera& camera = renderer.camera;
    const int n = renderer.bucketSize;
    const float size = static_cast<float>(n);
    std::vector<Ray> pass(static_cast<std::size_t>(2 * n));
    for (int column = 0; column < renderer.columns(); ++column) {
        for (int row = 0; row < renderer.rows(); ++row) {
            float y = static_cast<float>(row) * camera.pixelHeight * size + camera.screenBottom;
            for (int r = 0; r < n; r += 2) {
                const int rows = std::min(2, n - r);
                for (int pr = 0; pr < rows; ++pr) {
                    float x = static_cast<float>(column) * camera.pixelWidth * size + camera.screenLeft;
                    for (int c = 0; c < n; ++c) {
                        const int block = c - c % 2;
                        pass[static_cast<std::size_t>(block * rows + pr * std::min(2, n - block) + c % 2)] =
                            worker.primaryRay(x + camera.pixelWidth, y + camera.pixelHeight);
                        x += camera.pixelWidth;
                    }
                    y += camera.pixelHeight;
                }
                rays.insert(rays.end(), pass.begin(), pass.begin() + rows * n);
            }
        }
    }
    return rays;
}

struct Hit {
    bool hit = false;
    float distance = 0.0f;
};

// Ours: the renderer's own queries, on the worker's scratch.
std::vector<Hit> ourPrimary(const KdTree& tree, const std::vector<Ray>& rays, BucketWorker& scratch,
                            std::vector<const Primitive*>* primitives) {
    std::vector<Hit> hits(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        HitRecord record;
        record.distance = startDistance;
        if (tree.intersectNearest(rays[i], record, scratch) != 0) {
            hits[i] = {true, record.distance};
            if (primitives != nullptr) {
                (*primitives)[i] = record.primitive;
            }
        }
    }
    return hits;
}

std::vector<bool> ourShadow(const KdTree& tree, const std::vector<ShadowRay>& rays, BucketWorker& scratch) {
    std::vector<bool> blocked(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        blocked[i] = tree.occluded(rays[i].ray, rays[i].length, scratch) != 0;
    }
    return blocked;
}

// Ours in packets, the renderer's way: all rays in one call, walked four at a time.
std::vector<Hit> ourPrimaryPackets(const KdTree& tree, const std::vector<Ray>& rays, BucketWorker& scratch) {
    std::vector<HitRecord> records(rays.size());
    std::vector<int> facings(rays.size());
    tree.intersectNearest(rays.data(), records.data(), facings.data(), static_cast<int>(rays.size()), scratch);
    std::vector<Hit> hits(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        if (facings[i] != 0) {
            hits[i] = {true, records[i].distance};
        }
    }
    return hits;
}

std::vector<bool> ourShadowPackets(const KdTree& tree, const std::vector<ShadowRay>& rays, BucketWorker& scratch) {
    std::vector<Ray> plain(rays.size());
    std::vector<float> lengths(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        plain[i] = rays[i].ray;
        lengths[i] = rays[i].length;
    }
    std::vector<int> blocked(rays.size());
    tree.occluded(plain.data(), lengths.data(), blocked.data(), static_cast<int>(rays.size()), scratch);
    return std::vector<bool>(blocked.begin(), blocked.end());
}

// The shadow rays BucketWorker::lightVisibility casts towards a point light from each lit hit.
std::vector<ShadowRay> shadowRays(const std::vector<Ray>& rays, const std::vector<Hit>& hits,
                                  const std::vector<const Primitive*>& primitives, const Vector3& light) {
    std::vector<ShadowRay> shadows;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        if (!hits[i].hit || primitives[i]->type == Primitive::environment) {
            continue;
        }
        const Vector3& o = rays[i].origin;
        const Vector3& d = rays[i].direction;
        const float t = hits[i].distance;
        const Vector3 point(o.x + t * d.x, o.y + t * d.y, o.z + t * d.z);
        const Vector3 toLight = light - point;
        const float length = std::sqrt(toLight.x * toLight.x + toLight.y * toLight.y + toLight.z * toLight.z);
        const Vector3 L(toLight.x / length, toLight.y / length, toLight.z / length);
        const Vector3 origin(point.x + originOffset * L.x, point.y + originOffset * L.y,
                             point.z + originOffset * L.z);
        shadows.push_back({Ray{origin, L}, length});
    }
    return shadows;
}

// The bundles BucketWorker::lightVisibility casts towards an area light: areaSamples rays from each lit
// hit to the points the hash of the hit picks from the generator's table.
std::vector<ShadowRay> areaBundles(const std::vector<Ray>& rays, const std::vector<Hit>& hits,
                                   const std::vector<const Primitive*>& primitives, Light& light,
                                   RandomGenerator& random) {
    std::vector<ShadowRay> shadows;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        if (!hits[i].hit || primitives[i]->type == Primitive::environment) {
            continue;
        }
        const Vector3& o = rays[i].origin;
        const Vector3& d = rays[i].direction;
        const float t = hits[i].distance;
        const Vector3 point(o.x + t * d.x, o.y + t * d.y, o.z + t * d.z);
        const std::uint32_t pointBits = std::bit_cast<std::uint32_t>(point.x) ^ std::bit_cast<std::uint32_t>(point.y);
        const std::uint32_t zBits = std::bit_cast<std::uint32_t>(point.z);
        for (int sample = 0; sample < areaSamples; ++sample) {
            std::uint32_t seed = pointBits ^ static_cast<std::uint32_t>(sample) ^ zBits;
            const Vector3 toSample = light.samplePoint(random, seed) - point;
            const float l = std::sqrt(toSample.x * toSample.x + toSample.y * toSample.y + toSample.z * toSample.z);
            const Vector3 D(toSample.x / l, toSample.y / l, toSample.z / l);
            const Vector3 origin(point.x + originOffset * D.x, point.y + originOffset * D.y,
                                 point.z + originOffset * D.z);
            shadows.push_back({Ray{origin, D}, areaShadowLength * l});
        }
    }
    return shadows;
}

// One Embree triangle geometry over the given triangles, each corner moved by place().
template <class Place>
void attachTriangles(RTCDevice device, RTCScene scene, const std::vector<const Triangle*>& triangles,
                     Place&& place) {
    if (triangles.empty()) {
        return;
    }
    RTCGeometry geometry = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto* positions = static_cast<float*>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), 3 * triangles.size()));
    auto* indices = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), triangles.size()));
    for (std::size_t i = 0; i < triangles.size(); ++i) {
        const Vertex* corners[3] = {triangles[i]->a, triangles[i]->b, triangles[i]->c};
        for (int k = 0; k < 3; ++k) {
            const Vector3 p = place(corners[k]->position);
            positions[9 * i + 3 * k + 0] = p.x;
            positions[9 * i + 3 * k + 1] = p.y;
            positions[9 * i + 3 * k + 2] = p.z;
            indices[3 * i + k] = static_cast<unsigned>(3 * i + k);
        }
    }
    rtcCommitGeometry(geometry);
    rtcAttachGeometry(scene, geometry);
    rtcReleaseGeometry(geometry);
}

std::vector<const Triangle*> trianglesOf(const SceneGeometry& scene) {
    std::vector<const Triangle*> triangles;
    for (const Primitive* p : scene.primitives) {
        triangles.push_back(static_cast<const Triangle*>(p));
    }
    return triangles;
}

// The top level's own triangles (not the proxies) and the instance scene behind every proxy.
void splitTopLevel(const Scene& scene, std::vector<const Triangle*>& own,
                   std::vector<const SceneGeometry*>& instances) {
    for (const Primitive* p : scene.primitives) {
        if (p->type != Primitive::proxy) {
            own.push_back(static_cast<const Triangle*>(p));
        } else if (std::find(instances.begin(), instances.end(), p->owner->instance) == instances.end()) {
            instances.push_back(p->owner->instance);
        }
    }
}

RTCScene newScene(RTCDevice device) {
    RTCScene scene = rtcNewScene(device);
    rtcSetSceneBuildQuality(scene, RTC_BUILD_QUALITY_HIGH);
    return scene;
}

Vector3 toWorld(const InstancePlacement& proxy, const Vector3& local) {
    return proxy.rotation.rotate(local) + proxy.position;
}

// Two levels: one committed sub-scene per instance scene, instanced with its proxy's transform.
RTCScene twoLevelScene(RTCDevice device, const Scene& top) {
    std::vector<const Triangle*> own;
    std::vector<const SceneGeometry*> instances;
    splitTopLevel(top, own, instances);
    RTCScene scene = newScene(device);
    attachTriangles(device, scene, own, [](const Vector3& p) { return p; });
    for (const SceneGeometry* instance : instances) {
        RTCScene local = newScene(device);
        attachTriangles(device, local, trianglesOf(*instance), [](const Vector3& p) { return p; });
        rtcCommitScene(local);
        const InstancePlacement& proxy = *instance->proxy;
        // Column-major 3 x 4: the images of the three axes, then the translation.
        const Vector3 columns[4] = {proxy.rotation.rotate(Vector3(1.0f, 0.0f, 0.0f)),
                                    proxy.rotation.rotate(Vector3(0.0f, 1.0f, 0.0f)),
                                    proxy.rotation.rotate(Vector3(0.0f, 0.0f, 1.0f)), proxy.position};
        float transform[12];
        for (int c = 0; c < 4; ++c) {
            transform[3 * c + 0] = columns[c].x;
            transform[3 * c + 1] = columns[c].y;
            transform[3 * c + 2] = columns[c].z;
        }
        RTCGeometry geometry = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_INSTANCE);
        rtcSetGeometryInstancedScene(geometry, local);
        rtcSetGeometryTransform(geometry, 0, RTC_FORMAT_FLOAT3X4_COLUMN_MAJOR, transform);
        rtcCommitGeometry(geometry);
        rtcAttachGeometry(scene, geometry);
        rtcReleaseGeometry(geometry);
        rtcReleaseScene(local);
    }
    rtcCommitScene(scene);
    return scene;
}

// One level: every triangle in world space.
RTCScene flatScene(RTCDevice device, const Scene& top) {
    std::vector<const Triangle*> own;
    std::vector<const SceneGeometry*> instances;
    splitTopLevel(top, own, instances);
    RTCScene scene = newScene(device);
    attachTriangles(device, scene, own, [](const Vector3& p) { return p; });
    for (const SceneGeometry* instance : instances) {
        const InstancePlacement& proxy = *instance->proxy;
        attachTriangles(device, scene, trianglesOf(*instance),
                        [&](const Vector3& p) { return toWorld(proxy, p); });
    }
    rtcCommitScene(scene);
    return scene;
}

// Our ray as Embree's, searched over (0, limit).
RTCRay embreeRay(const Ray& ray, float limit) {
    RTCRay query{};
    query.org_x = ray.origin.x;
    query.org_y = ray.origin.y;
    query.org_z = ray.origin.z;
    query.dir_x = ray.direction.x;
    query.dir_y = ray.direction.y;
    query.dir_z = ray.direction.z;
    query.tnear = 0.0f;
    query.tfar = limit;
    query.mask = ~0u;
    return query;
}

std::vector<Hit> embreePrimary(RTCScene scene, const std::vector<Ray>& rays) {
    std::vector<Hit> hits(rays.size());
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    for (std::size_t i = 0; i < rays.size(); ++i) {
        RTCRayHit query{};
        query.ray = embreeRay(rays[i], startDistance);
        query.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        query.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene, &context, &query);
        if (query.hit.geomID != RTC_INVALID_GEOMETRY_ID) {
            hits[i] = {true, query.ray.tfar};
        }
    }
    return hits;
}

std::vector<bool> embreeShadow(RTCScene scene, const std::vector<ShadowRay>& rays) {
    std::vector<bool> blocked(rays.size());
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    for (std::size_t i = 0; i < rays.size(); ++i) {
        RTCRay query = embreeRay(rays[i].ray, rays[i].length);
        rtcOccluded1(scene, &context, &query);
        blocked[i] = query.tfar == -std::numeric_limits<float>::infinity();
    }
    return blocked;
}

// Embree's packet queries of width 4 or 8 over the same groups as ours; lanes past the end are invalid.
template <int width> struct EmbreePacket;
template <> struct EmbreePacket<4> {
    using RayHit = RTCRayHit4;
    using Rays = RTCRay4;
    static void intersect(const int* valid, RTCScene scene, RTCIntersectContext* context, RayHit* query) {
        rtcIntersect4(valid, scene, context, query);
    }
    static void occluded(const int* valid, RTCScene scene, RTCIntersectContext* context, Rays* query) {
        rtcOccluded4(valid, scene, context, query);
    }
};
template <> struct EmbreePacket<8> {
    using RayHit = RTCRayHit8;
    using Rays = RTCRay8;
    static void intersect(const int* valid, RTCScene scene, RTCIntersectContext* context, RayHit* query) {
        rtcIntersect8(valid, scene, context, query);
    }
    static void occluded(const int* valid, RTCScene scene, RTCIntersectContext* context, Rays* query) {
        rtcOccluded8(valid, scene, context, query);
    }
};

template <class Rays> void setLane(Rays& query, int lane, const Ray& ray, float limit) {
    query.org_x[lane] = ray.origin.x;
    query.org_y[lane] = ray.origin.y;
    query.org_z[lane] = ray.origin.z;
    query.dir_x[lane] = ray.direction.x;
    query.dir_y[lane] = ray.direction.y;
    query.dir_z[lane] = ray.direction.z;
    query.tnear[lane] = 0.0f;
    query.tfar[lane] = limit;
    query.mask[lane] = ~0u;
    query.time[lane] = 0.0f;
    query.id[lane] = 0;
    query.flags[lane] = 0;
}

template <int width> std::vector<Hit> embreePrimaryPackets(RTCScene scene, const std::vector<Ray>& rays) {
    using Packet = EmbreePacket<width>;
    std::vector<Hit> hits(rays.size());
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    for (std::size_t first = 0; first < rays.size(); first += width) {
        alignas(32) int valid[width];
        alignas(32) typename Packet::RayHit query{};
        for (int lane = 0; lane < width; ++lane) {
            valid[lane] = first + static_cast<std::size_t>(lane) < rays.size() ? -1 : 0;
            setLane(query.ray, lane, rays[std::min(first + static_cast<std::size_t>(lane), rays.size() - 1)],
                    startDistance);
            query.hit.geomID[lane] = RTC_INVALID_GEOMETRY_ID;
            query.hit.instID[0][lane] = RTC_INVALID_GEOMETRY_ID;
        }
        Packet::intersect(valid, scene, &context, &query);
        for (int lane = 0; lane < width && first + static_cast<std::size_t>(lane) < rays.size(); ++lane) {
            if (query.hit.geomID[lane] != RTC_INVALID_GEOMETRY_ID) {
                hits[first + static_cast<std::size_t>(lane)] = {true, query.ray.tfar[lane]};
            }
        }
    }
    return hits;
}

template <int width> std::vector<bool> embreeShadowPackets(RTCScene scene, const std::vector<ShadowRay>& rays) {
    using Packet = EmbreePacket<width>;
    std::vector<bool> blocked(rays.size());
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    for (std::size_t first = 0; first < rays.size(); first += width) {
        alignas(32) int valid[width];
        alignas(32) typename Packet::Rays query{};
        for (int lane = 0; lane < width; ++lane) {
            valid[lane] = first + static_cast<std::size_t>(lane) < rays.size() ? -1 : 0;
            const ShadowRay& ray = rays[std::min(first + static_cast<std::size_t>(lane), rays.size() - 1)];
            setLane(query, lane, ray.ray, ray.length);
        }
        Packet::occluded(valid, scene, &context, &query);
        for (int lane = 0; lane < width && first + static_cast<std::size_t>(lane) < rays.size(); ++lane) {
            blocked[first + static_cast<std::size_t>(lane)] =
                query.tfar[lane] == -std::numeric_limits<float>::infinity();
        }
    }
    return blocked;
}

// Median seconds of repeated runs of work.
template <class Work> double medianSeconds(Work&& work) {
    std::vector<double> seconds;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

void printRates(const char* kind, const char* peer, std::size_t rays, double ours, double embree) {
    const double oursRate = static_cast<double>(rays) / ours * 1e-6;
    const double embreeRate = static_cast<double>(rays) / embree * 1e-6;
    std::printf("%s, %s: %zu rays, ours %.2f Mrays/s, Embree %.2f Mrays/s, ratio %.2f\n", kind, peer, rays,
                oursRate, embreeRate, oursRate / embreeRate);
}

// Our packets against Embree's single rays and its packets of four and eight.
void printPacketRates(const char* kind, const char* peer, std::size_t rays, double ours, double embreeSingle,
                      double embree4, double embree8) {
    const auto rate = [&](double seconds) { return static_cast<double>(rays) / seconds * 1e-6; };
    const double embreePackets = std::max(rate(embree4), rate(embree8));
    std::printf("%s packets, %s: %zu rays, ours %.2f Mrays/s, Embree single %.2f, packets of 4 %.2f, of 8 %.2f "
                "Mrays/s, ratio %.2f to single, %.2f to packets\n",
                kind, peer, rays, rate(ours), rate(embreeSingle), rate(embree4), rate(embree8),
                rate(ours) / rate(embreeSingle), rate(ours) / embreePackets);
}

// Prints the agreement of one Embree scene with ours; false when it falls short.
bool checkAgreement(const char* peer, const std::vector<Hit>& ours, const std::vector<Hit>& embree,
                    const std::vector<bool>& oursBlocked, const std::vector<bool>& embreeBlocked) {
    std::size_t sameHit = 0;
    std::size_t bothHit = 0;
    std::size_t sameDistance = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        sameHit += ours[i].hit == embree[i].hit;
        if (ours[i].hit && embree[i].hit) {
            ++bothHit;
            const double d = ours[i].distance;
            sameDistance += std::fabs(embree[i].distance - d) <= distanceTolerance * d;
        }
    }
    std::size_t sameBlocked = 0;
    for (std::size_t i = 0; i < oursBlocked.size(); ++i) {
        sameBlocked += oursBlocked[i] == embreeBlocked[i];
    }
    const double primary = static_cast<double>(sameHit) / static_cast<double>(ours.size());
    const double distance = bothHit > 0 ? static_cast<double>(sameDistance) / static_cast<double>(bothHit) : 1.0;
    const double shadow =
        oursBlocked.empty() ? 1.0 : static_cast<double>(sameBlocked) / static_cast<double>(oursBlocked.size());
    const bool good = primary >= primaryAgreement && distance >= distanceAgreement && shadow >= shadowAgreement;
    std::printf("agreement, %s: primary hit or miss %.3f %% (%zu differ), distance within 1e-4 %.3f %% of "
                "%zu hits, shadow %.3f %% (%zu differ)%s\n",
                peer, 100.0 * primary, ours.size() - sameHit, 100.0 * distance, bothHit, 100.0 * shadow,
                oursBlocked.size() - sameBlocked, good ? "" : " -- below the required agreement");
    return good;
}

int run() {
    AppState app;
    initialiseRenderer(app);
    Renderer& renderer = *app.renderer;
    Scene& scene = *renderer.scene;
    // The state frame 40 is rendered in: the renderer steps the animation after each frame.
    renderer.pool->setBase();
    for (int f = 1; f < frame; ++f) {
        animationStep(renderer.robot, renderer.animationClock, true, scene, *renderer.pool);
    }
    HeadlessWindow window;
    InputHandler(app, window).updateCamera();
    Light* light = scene.firstLight();
    if (light == nullptr || scene.accelerator == nullptr) {
        std::fprintf(stderr, "lumenbox-peer-bench: the scene has no light or no geometry\n");
        return 1;
    }
    const KdTree& tree = *static_cast<const KdTree*>(scene.accelerator);

    BucketWorker worker(&scene, renderer.bucketSize, 0, 0, &renderer.camera, renderer.imageWidth,
                        renderer.imageHeight, nullptr, renderer.settings.get(), nullptr);
    const std::vector<Ray> primary = primaryRays(renderer, worker);
    std::vector<const Primitive*> primitives(primary.size(), nullptr);
    const std::vector<Hit> ourHits = ourPrimary(tree, primary, worker, &primitives);
    const std::vector<ShadowRay> shadow = shadowRays(primary, ourHits, primitives, light->position);
    const std::vector<bool> ourBlocked = ourShadow(tree, shadow, worker);
    const std::vector<ShadowRay> bundles = areaBundles(primary, ourHits, primitives, *light, *worker.random);
    const std::vector<bool> ourBundleBlocked = ourShadow(tree, bundles, worker);

    // Our packets answer as our single rays, exactly; the distance is compared bit for bit.
    const auto sameHits = [](const std::vector<Hit>& a, const std::vector<Hit>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), [](const Hit& x, const Hit& y) {
            return x.hit == y.hit && std::bit_cast<std::uint32_t>(x.distance) == std::bit_cast<std::uint32_t>(y.distance);
        });
    };
    bool agreed = sameHits(ourHits, ourPrimaryPackets(tree, primary, worker)) &&
                  ourBlocked == ourShadowPackets(tree, shadow, worker) &&
                  ourBundleBlocked == ourShadowPackets(tree, bundles, worker);
    std::printf("agreement, our packets with our single rays: %s\n", agreed ? "every answer the same" : "DIFFERENT");

    const double oursPrimary = medianSeconds([&] { ourPrimary(tree, primary, worker, nullptr); });
    const double oursShadow = medianSeconds([&] { ourShadow(tree, shadow, worker); });
    const double oursPrimaryPackets = medianSeconds([&] { ourPrimaryPackets(tree, primary, worker); });
    const double oursShadowPackets = medianSeconds([&] { ourShadowPackets(tree, shadow, worker); });
    const double oursBundlePackets = medianSeconds([&] { ourShadowPackets(tree, bundles, worker); });

    // One thread for Embree too, also while it builds.
    RTCDevice device = rtcNewDevice("threads=1");
    struct Peer {
        const char* name;
        RTCScene scene;
    };
    const Peer peers[2] = {{"two-level", twoLevelScene(device, scene)}, {"flattened", flatScene(device, scene)}};
    for (const Peer& peer : peers) {
        const std::vector<Hit> hits = embreePrimary(peer.scene, primary);
        const std::vector<bool> blocked = embreeShadow(peer.scene, shadow);
        const double embreePrimarySingle = medianSeconds([&] { embreePrimary(peer.scene, primary); });
        const double embreeShadowSingle = medianSeconds([&] { embreeShadow(peer.scene, shadow); });
        printRates("primary", peer.name, primary.size(), oursPrimary, embreePrimarySingle);
        printRates("shadow", peer.name, shadow.size(), oursShadow, embreeShadowSingle);
        printPacketRates("primary", peer.name, primary.size(), oursPrimaryPackets, embreePrimarySingle,
                         medianSeconds([&] { embreePrimaryPackets<4>(peer.scene, primary); }),
                         medianSeconds([&] { embreePrimaryPackets<8>(peer.scene, primary); }));
        printPacketRates("shadow", peer.name, shadow.size(), oursShadowPackets, embreeShadowSingle,
                         medianSeconds([&] { embreeShadowPackets<4>(peer.scene, shadow); }),
                         medianSeconds([&] { embreeShadowPackets<8>(peer.scene, shadow); }));
        printPacketRates("area bundle", peer.name, bundles.size(), oursBundlePackets,
                         medianSeconds([&] { embreeShadow(peer.scene, bundles); }),
                         medianSeconds([&] { embreeShadowPackets<4>(peer.scene, bundles); }),
                         medianSeconds([&] { embreeShadowPackets<8>(peer.scene, bundles); }));
        agreed = checkAgreement(peer.name, ourHits, hits, ourBlocked, blocked) && agreed;
        // Embree's packets answer as its single rays, within the same agreement.
        agreed = checkAgreement(peer.name, ourHits, embreePrimaryPackets<8>(peer.scene, primary), ourBundleBlocked,
                                embreeShadowPackets<8>(peer.scene, bundles)) &&
                 agreed;
        rtcReleaseScene(peer.scene);
    }
    rtcReleaseDevice(device);
    releaseRenderer(app);
    return agreed ? 0 : 1;
}

} // namespace

int main() {
    try {
        return run();
    } catch (const FatalError& error) {
        std::fprintf(stderr, "lumenbox-peer-bench: %s\n", error.what());
        return 1;
    }
}
