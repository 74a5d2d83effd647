#include "tools/import/ViewerCheck.h"

#include "animation/SceneLoader.h"
#include "animation/Skeleton.h"
#include "animation/SkeletonBuilder.h"
#include "geometry/KdPool.h"
#include "math/FatalError.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "tools/scenegen/OutputFile.h"
#include "tools/scenegen/TextFormat.h"

#include <filesystem>
#include <vector>

namespace Raytracer::Import {

namespace {

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Throws unless every rest vertex of the joint's mesh, in the joint's frame, is inside its tree's box.
void checkReach(const Joint& joint) {
    const Scene& local = static_cast<const Scene&>(*joint.proxy->instance);
    const Vector3 low = local.boundsMin;
    const Vector3 high = local.boundsMin + local.boundsSize;
    for (const Vertex* vertex : local.object->restVertices) {
        for (int axis = 0; axis < 3; ++axis) {
            const float c = vertex->position[axis];
            if (!(c >= low[axis] && c <= high[axis])) {
                throw FatalError("the part of joint " + joint.name + " reaches " +
                                 Scenegen::format("%.1f", c) + " units from its joint along " + "xyz"[axis] +
                                 "; the viewer traces " + Scenegen::format("%g", low[axis]) + " to " +
                                 Scenegen::format("%g", high[axis]) +
                                 " about a joint (a smaller --height fits)");
            }
        }
    }
    for (const Joint* child : joint.children) {
        checkReach(*child);
    }
}

FatalError refusal(const FatalError& error, const std::string& preview, const std::string& directory,
                   const std::string& modelPath) {
    return FatalError(modelPath + ": the viewer would refuse the import: " +
                      replaced(error.what(), preview, Scenegen::joinPath(directory, "")));
}

} // namespace

void checkSceneWithViewer(const std::string& preview, const std::string& directory,
                          const std::string& modelPath) {
    Scene scene;
    KdPool pool;
    try {
        loadScene(scene, pool, preview);
    } catch (const FatalError& error) {
        throw refusal(error, preview, directory, modelPath);
    }
}

void checkWithViewer(const std::string& preview, const std::string& directory, const ModelSlot& slot,
                     const std::string& modelPath) {
    Scene scene;
    KdPool pool;
    const Skeleton* skeleton = nullptr;
    try {
        if (std::filesystem::exists(preview + "scene.obj")) {
            loadScene(scene, pool, preview);
            skeleton = scene.models[static_cast<std::size_t>(slot.sceneIndex)];
        } else {
            Skeleton* alone = scene.create<Skeleton>();
            loadSkeleton(*alone, preview + slot.stem + ".ms3d", scene, pool);
            skeleton = alone;
        }
    } catch (const FatalError& error) {
        throw refusal(error, preview, directory, modelPath);
    }
    try {
        checkReach(*skeleton->root);
    } catch (const FatalError& error) {
        throw FatalError(modelPath + ": " + error.what());
    }
}

} // namespace Raytracer::Import
