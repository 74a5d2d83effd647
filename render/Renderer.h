#pragma once

#include "animation/AnimationClock.h"
#include "animation/RobotState.h"
#include "geometry/KdPool.h"
#include "render/BucketWorker.h"
#include "render/Camera.h"
#include "render/Counter.h"
#include "render/RenderSettings.h"

#include <boost/thread/thread.hpp>

#include <cstdint>
#include <memory>
#include <vector>

namespace Raytracer {

class Scene;

// Owns the camera, the scene, the settings and one worker thread per bucket, and drives frames:
// release every bucket, wait for all of them, sum the statistics, then advance the animation while
// the workers are idle. Everything here runs on the thread that calls renderFrame.
class Renderer {
  public:
    // frameBuffer: imageWidth x imageHeight colours owned by the caller. Throws FatalError when it is
    // null or memory runs out.
    Renderer(int imageWidth, int imageHeight, int bucketSize, Color* frameBuffer);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Renders one frame into the frame buffer and prepares the next; does nothing unless animating or
    // viewChanged is set. The first call starts the worker threads.
    void renderFrame();

    int columns() const { return bucketSize > 0 ? imageWidth / bucketSize : 0; }
    int rows() const { return bucketSize > 0 ? imageHeight / bucketSize : 0; }
    int bucketCount() const { return columns() * rows(); }
    // Slot of bucket (column i, row j) in workers, threads and bucketTriggers.
    int bucketSlot(int i, int j) const { return i * rows() + j; }

    RobotState robot; // walk, jump, crouch, loop, robotAnimationOn, resetAnimation
    Camera camera;
    std::unique_ptr<Scene> scene;
    std::unique_ptr<KdPool> pool; // nodes and leaf lists of every kd-tree of the scene
    int imageWidth;
    int imageHeight;
    int bucketSize;
    std::vector<std::unique_ptr<BucketWorker>> workers;
    std::unique_ptr<RenderSettings> settings;
    bool workersPending = true;
    boost::thread_group threadGroup;
    std::vector<boost::thread*> threads;
    std::uint32_t raysCast = 0;      // rays traced in the last frame
    std::uint32_t intersections = 0; // sum of the workers' counters in the last frame
    std::unique_ptr<Counter> bucketsDone;
    std::unique_ptr<Counter[]> bucketTriggers;
    bool frameReady = false;  // a complete frame is in the frame buffer
    bool animating = true;    // the scene animates and frames follow each other
    bool viewChanged = false; // something visible changed: render one frame
    AnimationClock animationClock;

  private:
    void startWorkers();
};

} // namespace Raytracer
