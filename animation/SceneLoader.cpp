#include "animation/SceneLoader.h"

#include "animation/Skeleton.h"
#include "animation/SkeletonBuilder.h"
#include "animation/SkeletonPlayback.h"
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "math/FatalError.h"
#include "scene/Scene.h"
#include "scene/StageLoader.h"

#include <malloc.h>

namespace Raytracer {

namespace {

// The four models, each posed at animation time 0 where it starts: the robot at the origin, the
// others stacked in front of it until the first animated frame puts them on their orbits.
void loadModels(Scene& scene, KdPool& pool, const std::string& directory) {
    struct Placement {
        const char* file;
        int slot;
        Vector3 position;
    };
    const Placement placements[] = {{"star.ms3d", 2, {0.0f, 10.5f, -7.0f}},
                                    {"cylon.ms3d", 0, {0.0f, 0.0f, 0.0f}},
                                    {"ball.ms3d", 1, {0.0f, 8.5f, -7.0f}},
                                    {"2ball.ms3d", 3, {0.0f, 14.7f, -7.0f}}};
    for (const Placement& placement : placements) {
        Skeleton* model = scene.create<Skeleton>();
        loadSkeleton(*model, directory + placement.file, scene, pool);
        animateSkeleton(*model->root, 0.0f);
        poseSkeleton(*model->root, placement.position, Quaternion());
        scene.models[static_cast<std::size_t>(placement.slot)] = model;
    }
}

} // namespace

void loadScene(Scene& scene, KdPool& pool, const std::string& directory) {
    loadStage(scene, pool, directory);
    loadModels(scene, pool, directory);
    if (scene.primitiveCount() > Scene::topLevelPrimitiveCapacity) {
        throw FatalError(directory + "scene.obj: the top level holds " +
                         std::to_string(scene.primitiveCount()) +
                         " triangles (environment objects and proxy boxes of objects and joints); at most " +
                         std::to_string(Scene::topLevelPrimitiveCapacity) + " are allowed");
    }

    KdTree* tree = scene.create<KdTree>(pool);
    scene.accelerator = tree;
    pool.setMark();
    try {
        tree->build(scene);
    } catch (const KdPoolExhausted& error) {
        throw FatalError(directory + "scene.obj: the top level: " + std::string(error.what()));
    }
#if defined(__GLIBC__)
    // A large model's parse and build scratch were freed in pieces the allocator keeps for reuse;
    // the frames never need that much again.
    malloc_trim(0);
#endif
}

} // namespace Raytracer
