#pragma once

#include <string>

namespace Raytracer {

class FrameBuffer;
class Renderer;

// Where the scene files are read from unless --meshes names another directory: relative to the working
// directory, with the final slash that file names are appended to.
inline constexpr const char* defaultSceneDirectory = "meshes/";

// The start-up values the command line sets. Missing arguments keep these defaults.
struct StartupSettings {
    int imageSize = 512; // width and height: the image is square
    int bucketSize = 16; // side of a square render bucket, in pixels
    int startAreaLightSubdivisions = 16;
    int startTraceDepth = 6;
    int startReflectionSamples = 8;
    bool startWithAreaLight = false;
    bool startWithAntiAliasing = false;
    std::string sceneDirectory = defaultSceneDirectory;
};

// Camera angles the viewer starts with and F2 restores, in radians; positive pitch looks down.
constexpr float defaultCameraYaw = -0.43f;
constexpr float defaultCameraPitch = 0.33f;

// What the window's callbacks share for the life of the process; touched on the GLUT thread only.
struct AppState {
    int imageWidth = 512;
    int imageHeight = 512;
    int bucketSize = 16;
    int startAreaLightSubdivisions = 16; // also what F2 restores
    int startTraceDepth = 6;
    int startReflectionSamples = 8;
    bool startWithAreaLight = false;
    bool startWithAntiAliasing = false;

    // Where the scene, its materials, textures and models are read from, ending in a slash.
    std::string sceneDirectory = defaultSceneDirectory;

    Renderer* renderer = nullptr;
    FrameBuffer* frameBuffer = nullptr;

    float cameraYaw = defaultCameraYaw;
    float cameraPitch = defaultCameraPitch;
    float moveSpeed = 0.0f; // distance moved along the view per idle call
    bool mouseButtonHeld = false;
    bool pointerMoved = false; // a passive-motion event arrived since the last camera update
    bool turnLeft = false;
    bool turnRight = false;
    bool turnUp = false;
    bool turnDown = false;
    bool warpPending = false; // put the pointer back at the window centre
    bool helpVisible = false;
    long frameStartTicks = 0; // millisecond clock just before the latest frame

    void apply(const StartupSettings& startup);
};

} // namespace Raytracer
