// Ray queries and the per-frame rebuild on seeded random two-level scenes, and the shipped scene's
// animation step, one thread.
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/TraversalScratch.h"
#include "geometry/Triangle.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "geometry/Vertex.h"
#include "tests/support/RandomScene.h"
#include "tests/support/ShippedScene.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

using namespace Raytracer;

namespace {

constexpr int rayCount = 4096;

// A few thousand triangles: 12 moving parts of 200 triangles behind proxies, 300 at the top level.
struct QueryScene {
    QueryScene() : pool(1000000), scene(top, pool, 2024), scratch(std::make_unique<TraversalScratch>()) {
        for (int i = 0; i < 12; ++i) {
            scene.addPart(200);
        }
        scene.addTopLevelTriangles(300);
        scene.buildTopLevel();
        for (int i = 0; i < rayCount; ++i) {
            rays.push_back(scene.randomRay());
        }
    }
    const KdTree& tree() const { return static_cast<const KdTree&>(*top.accelerator); }

    KdPool pool;
    Scene top;
    RandomScene scene;
    std::unique_ptr<TraversalScratch> scratch;
    std::vector<Ray> rays;
};

QueryScene& queryScene() {
    static QueryScene instance;
    return instance;
}

void TriangleIntersect(benchmark::State& state) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    Vertex a{{-1, -1, 0}, {}, 0, 0};
    Vertex b{{1, -1, 0.2f}, {}, 0, 0};
    Vertex c{{0, 1, -0.1f}, {}, 0, 0};
    const Triangle triangle(Primitive::lit, &a, &b, &c);
    std::vector<Ray> rays;
    for (int i = 0; i < rayCount; ++i) {
        const Vector3 origin(unit(random), unit(random), 5.0f);
        rays.push_back(Ray{origin, normalize(Vector3(unit(random) * 1.5f, unit(random) * 1.5f, 0) - origin)});
    }
    std::size_t i = 0;
    for (auto _ : state) {
        float distance = 10000.0f;
        float u;
        float v;
        benchmark::DoNotOptimize(triangle.intersect(rays[i], distance, u, v));
        i = (i + 1) % rays.size();
    }
    state.SetItemsProcessed(state.iterations());
}

void NearestHit(benchmark::State& state) {
    QueryScene& q = queryScene();
    int hits = 0;
    for (auto _ : state) {
        for (const Ray& ray : q.rays) {
            HitRecord record;
            hits += q.tree().intersectNearest(ray, record, *q.scratch) != 0;
        }
    }
    state.SetItemsProcessed(state.iterations() * rayCount);
    state.counters["hitRate"] =
        static_cast<double>(hits) / (static_cast<double>(state.iterations()) * rayCount);
}

void Occluded(benchmark::State& state) {
    QueryScene& q = queryScene();
    int blocked = 0;
    for (auto _ : state) {
        for (const Ray& ray : q.rays) {
            blocked += q.tree().occluded(ray, 30.0f, *q.scratch);
        }
    }
    state.SetItemsProcessed(state.iterations() * rayCount);
    state.counters["blockedRate"] =
        static_cast<double>(blocked) / (static_cast<double>(state.iterations()) * rayCount);
}

// The per-frame step: about 1000 top-level triangles (40 proxies of 12 plus 500 others), every part
// moved, pool reset and top-level tree rebuilt.
void TopLevelRebuild(benchmark::State& state) {
    KdPool pool(2000000);
    Scene top;
    RandomScene scene(top, pool, 77);
    for (int i = 0; i < 40; ++i) {
        scene.addPart(4);
    }
    scene.addTopLevelTriangles(500);
    scene.buildTopLevel();
    pool.setMark();
    pool.setBase();
    int frame = 0;
    for (auto _ : state) {
        const float shift = (frame++ % 2 == 0) ? 0.25f : -0.25f;
        for (SceneObject* part : scene.parts()) {
            scene.pose(*part, part->position + Vector3(shift, 0, 0), part->rotation);
        }
        pool.reset();
        scene.buildTopLevel();
    }
    state.counters["triangles"] = static_cast<double>(top.primitiveCount());
}

// The shipped scene's per-frame step: the robot animated, the orbiting models placed and its top-level
// tree rebuilt. Reads meshes/ from the working directory, the project root.
void ShippedTopLevelStep(benchmark::State& state) {
    ShippedScene shipped;
    for (auto _ : state) {
        shipped.step();
    }
    state.counters["triangles"] = static_cast<double>(shipped.scene.primitiveCount());
}

} // namespace

BENCHMARK(TriangleIntersect);
BENCHMARK(NearestHit)->Unit(benchmark::kMillisecond);
BENCHMARK(Occluded)->Unit(benchmark::kMillisecond);
BENCHMARK(TopLevelRebuild)->Unit(benchmark::kMillisecond);
BENCHMARK(ShippedTopLevelStep)->Unit(benchmark::kMillisecond);
