#pragma once

#include "animation/AnimationClock.h"
#include "animation/RobotState.h"
#include "animation/SceneLoader.h"
#include "geometry/KdPool.h"
#include "scene/Scene.h"

namespace Raytracer {

// The shipped scene as a renderer holds it once loaded, stepped frame by frame as the animation runs.
// Reads meshes/ from the working directory, the project root.
struct ShippedScene {
    Scene scene;
    KdPool pool;
    RobotState robot;
    AnimationClock clock;

    ShippedScene() {
        loadScene(scene, pool, "meshes/");
        pool.setBase();
    }

    void step() { animationStep(robot, clock, true, scene, pool); }
};

} // namespace Raytracer
