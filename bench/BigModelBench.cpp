// The stage with one more renderable object, a bumpy sphere of 10^4, 10^5 or 10^6 triangles whose pole
// fans are slivers, as lumenbox-scenegen --bumpy-sphere writes it: the whole load (parse, meshes and
// every kd-tree), the memory the loaded scene holds per added triangle, nearest hits of a 64 x 64 fan
// of rays from the default camera's place, one thread, and the viewer's default frame.
#include "animation/SceneLoader.h"
#include "app/AppState.h"
#include "app/Startup.h"
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/TraversalScratch.h"
#include "render/Renderer.h"
#include "scene/Scene.h"
#include "tools/scenegen/SceneWriter.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

using namespace Raytracer;

namespace {

// Resident bytes of this process, from /proc/self/statm.
double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    double size = 0.0;
    double resident = 0.0;
    statm >> size >> resident;
    return resident * 4096.0;
}

// The stage copy with a sphere of about `triangles` triangles, written once per size.
std::string stageCopy(int triangles) {
    static std::map<int, std::string> written;
    auto& directory = written[triangles];
    if (directory.empty()) {
        directory = (std::filesystem::temp_directory_path() / ("lumenbox-bench-sphere-" + std::to_string(triangles)))
                        .string() + "/";
        std::filesystem::create_directories(directory);
        Scenegen::writeScene(directory, triangles);
    }
    return directory;
}

// heldBytesPerTriangle: resident memory the loaded scene, the stage's own objects included, adds per
// sphere triangle; run one size per process (--benchmark_filter=BigModelLoad/N), since memory freed
// by an earlier load is reused without showing.
void BigModelLoad(benchmark::State& state) {
    const auto triangles = static_cast<int>(state.range(0));
    const std::string directory = stageCopy(triangles);
    double held = 0.0;
    for (auto _ : state) {
        const double before = residentBytes();
        auto pool = std::make_unique<KdPool>();
        auto scene = std::make_unique<Scene>();
        loadScene(*scene, *pool, directory);
        state.PauseTiming();
        held = residentBytes() - before;
        scene.reset();
        pool.reset();
        state.ResumeTiming();
    }
    state.counters["heldBytesPerTriangle"] = held / triangles;
}

void BigModelNearestHits(benchmark::State& state) {
    const auto triangles = static_cast<int>(state.range(0));
    KdPool pool;
    Scene scene;
    loadScene(scene, pool, stageCopy(triangles));
    const auto& tree = static_cast<const KdTree&>(*scene.accelerator);
    const auto scratch = std::make_unique<TraversalScratch>();
    // From the default camera's place towards the sphere, fanned over 0.4 radians.
    const Vector3 origin(7.0f, 13.05f, -18.25f);
    const Vector3 toward = normalize(Vector3(13.0f, 2.6f, -6.0f) - origin);
    int hits = 0;
    for (auto _ : state) {
        for (int i = 0; i < 64; ++i) {
            for (int j = 0; j < 64; ++j) {
                const Vector3 d = normalize(toward + Vector3(0.2f - 0.4f * i / 63.0f, 0.2f - 0.4f * j / 63.0f, 0.0f));
                HitRecord record;
                hits += tree.intersectNearest(Ray{origin, d}, record, *scratch) != 0;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * 64 * 64);
    state.counters["hitRate"] = static_cast<double>(hits) / (static_cast<double>(state.iterations()) * 64 * 64);
}

// The viewer's default frame, its settings and size, of the stage with the sphere (0: the stage alone),
// frame after frame from the first as the animation runs, in wall time over all its workers.
void BigModelFrame(benchmark::State& state) {
    AppState app;
    app.sceneDirectory = stageCopy(static_cast<int>(state.range(0)));
    initialiseRenderer(app);
    for (auto _ : state)
        app.renderer->renderFrame();
    releaseRenderer(app);
}

} // namespace

BENCHMARK(BigModelFrame)->Arg(0)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(8)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BigModelLoad)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BigModelNearestHits)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
