#include "app/InputHandler.h"

#include "render/FrameBuffer.h"
#include "render/Renderer.h"
#include "scene/Scene.h"
#include "shading/PointLight.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Raytracer {
namespace {

class RecordingWindow final : public WindowSystem {
  public:
    void setIdleEnabled(bool enabled) override {
        idleEnabled = enabled;
        ++idleCalls;
    }
    void postRedisplay() override { ++redisplays; }
    void warpPointer(int x, int y) override {
        warpedTo[0] = x;
        warpedTo[1] = y;
        ++warps;
    }
    void setBlending(bool enabled) override { blending = enabled; }
    void quit() override { quitRequested = true; }

    bool idleEnabled = false;
    int idleCalls = 0;
    int redisplays = 0;
    int warps = 0;
    int warpedTo[2] = {-1, -1};
    bool blending = false;
    bool quitRequested = false;
};

class InputHandlerTest : public ::testing::Test {
  protected:
    InputHandlerTest() : buffer(64, 64), renderer(64, 64, 64, buffer.pixels()), input(app, window) {
        app.imageWidth = app.imageHeight = 64;
        app.renderer = &renderer;
        app.frameBuffer = &buffer;
        light = renderer.scene->create<PointLight>(Vector3(1, 10, 2), Color(1, 1, 1));
        renderer.scene->lights.push_back(light);
        renderer.animating = false;
    }

    RenderSettings& settings() { return *renderer.settings; }
    // Clears the flags a handler may set, so each press is seen on its own.
    void clearRequests() {
        renderer.viewChanged = false;
        window.idleEnabled = false;
        window.idleCalls = 0;
    }
    void press(char key) { input.keyboard(static_cast<unsigned char>(key)); }

    FrameBuffer buffer;
    Renderer renderer;
    AppState app;
    RecordingWindow window;
    InputHandler input;
    PointLight* light;
};

TEST_F(InputHandlerTest, SettingKeysStopAtTheirLimitsButStillRedraw) {
    settings().traceDepth = 10;
    press('+');
    EXPECT_EQ(10, settings().traceDepth);
    EXPECT_TRUE(renderer.viewChanged);
    EXPECT_TRUE(window.idleEnabled);

    settings().traceDepth = 1;
    clearRequests();
    press('-');
    EXPECT_EQ(1, settings().traceDepth);
    EXPECT_TRUE(renderer.viewChanged);
    EXPECT_TRUE(window.idleEnabled);
    press('+');
    EXPECT_EQ(2, settings().traceDepth);

    settings().areaLightSubdivisions = 256;
    press(']');
    EXPECT_EQ(256, settings().areaLightSubdivisions);
    settings().areaLightSubdivisions = 1;
    press('[');
    EXPECT_EQ(1, settings().areaLightSubdivisions);
    // Only the value 1 is guarded: a start value of 0 keeps going down.
    settings().areaLightSubdivisions = 0;
    press('[');
    EXPECT_EQ(-1, settings().areaLightSubdivisions);

    settings().reflectionSamples = 128;
    press('l');
    EXPECT_EQ(128, settings().reflectionSamples);
    settings().reflectionSamples = 1;
    press('k');
    EXPECT_EQ(1, settings().reflectionSamples);
    press('l');
    EXPECT_EQ(2, settings().reflectionSamples);
}

TEST_F(InputHandlerTest, CommandLineValuesBeyondTheLimitsAreNotClamped) {
    settings().traceDepth = 50;
    press('+');
    EXPECT_EQ(50, settings().traceDepth);
    press('-');
    EXPECT_EQ(49, settings().traceDepth);
}

TEST_F(InputHandlerTest, UpperCaseAndUnknownKeysDoNothing) {
    const Vector3 before = renderer.camera.position;
    for (const char key : {'W', 'O', 'J', 'H', 'x', '1', ' '}) {
        press(key);
    }
    EXPECT_EQ(before, renderer.camera.position);
    EXPECT_FALSE(settings().antiAliasing);
    EXPECT_EQ(Light::pointSampling, light->type);
    EXPECT_FALSE(renderer.viewChanged);
    EXPECT_EQ(0, window.idleCalls);
}

TEST_F(InputHandlerTest, LightKeysSwitchAndMoveTheFirstLight) {
    press('j');
    EXPECT_EQ(Light::areaSampling, light->type);
    press('j');
    EXPECT_EQ(Light::pointSampling, light->type);
    light->type = Light::sphereSampling;
    press('j');
    EXPECT_EQ(Light::areaSampling, light->type);

    press('y');
    press('y');
    press('u');
    EXPECT_FLOAT_EQ(1.3f, light->position.x);
    press('t');
    EXPECT_FLOAT_EQ(2.3f, light->position.z);
    press('r');
    press('r');
    EXPECT_FLOAT_EQ(1.7f, light->position.z);
    EXPECT_EQ(10.0f, light->position.y);
}

TEST_F(InputHandlerTest, LightKeysWithoutLightsAreIgnored) {
    renderer.scene->lights.clear();
    for (const char key : {'j', 'y', 'u', 'r', 't'}) {
        press(key);
    }
    EXPECT_FALSE(renderer.viewChanged);
    EXPECT_EQ(0, window.idleCalls);
    input.specialKey(keyF2); // resets everything else
    EXPECT_TRUE(renderer.robot.resetAnimation);
}

TEST_F(InputHandlerTest, MoveKeysUseWorldUpAndTheCameraRightAxis) {
    app.cameraYaw = 0.7f;
    app.cameraPitch = 0.5f;
    input.updateCamera();
    const Vector3 start = renderer.camera.position;
    press('w');
    EXPECT_FLOAT_EQ(start.y + 0.3f, renderer.camera.position.y);
    EXPECT_EQ(start.x, renderer.camera.position.x);
    press('s');
    press('d');
    const Vector3 moved = renderer.camera.position - start;
    // Pitch does not tilt the right axis: it stays horizontal, turned by the yaw.
    EXPECT_NEAR(0.0f, moved.y, 1e-6f);
    EXPECT_NEAR(0.3f * std::cos(0.7f), moved.x, 1e-6f);
    EXPECT_NEAR(-0.3f * std::sin(0.7f), moved.z, 1e-6f);
    press('a');
    EXPECT_NEAR(start.x, renderer.camera.position.x, 1e-5f);
    EXPECT_NEAR(start.z, renderer.camera.position.z, 1e-5f);
}

TEST_F(InputHandlerTest, RobotCommands) {
    press('h');
    EXPECT_FALSE(renderer.robot.robotAnimationOn);
    EXPECT_FALSE(renderer.robot.loop);
    EXPECT_FALSE(renderer.animating);
    EXPECT_FALSE(window.idleEnabled);

    // A second stop does nothing at all.
    window.idleCalls = 0;
    press('h');
    EXPECT_EQ(0, window.idleCalls);

    // Jump only arms the state: no animation, no frame.
    press('g');
    EXPECT_TRUE(renderer.robot.jump);
    EXPECT_TRUE(renderer.robot.robotAnimationOn);
    EXPECT_FALSE(renderer.animating);
    EXPECT_EQ(0, window.idleCalls);

    press('c');
    EXPECT_TRUE(renderer.robot.walk);
    EXPECT_FALSE(renderer.robot.jump);
    EXPECT_TRUE(renderer.animating);
    EXPECT_TRUE(window.idleEnabled);
    EXPECT_FALSE(renderer.viewChanged);

    press('b');
    EXPECT_TRUE(renderer.robot.crouch);
    EXPECT_FALSE(renderer.robot.walk);

    press('v');
    EXPECT_TRUE(renderer.robot.loop);
    EXPECT_FALSE(renderer.robot.crouch);
    EXPECT_TRUE(renderer.viewChanged);

    // Loop while looping is ignored, not even a redraw.
    clearRequests();
    press('v');
    EXPECT_FALSE(renderer.viewChanged);
    EXPECT_EQ(0, window.idleCalls);
}

TEST_F(InputHandlerTest, EscapeQuits) {
    press(27);
    EXPECT_TRUE(window.quitRequested);
}

TEST_F(InputHandlerTest, F1TogglesTheHelpPanelAndBlending) {
    input.specialKey(keyF1);
    EXPECT_TRUE(app.helpVisible);
    EXPECT_TRUE(window.blending);
    EXPECT_TRUE(renderer.viewChanged);
    EXPECT_TRUE(window.idleEnabled);
    input.specialKey(keyF1);
    EXPECT_FALSE(app.helpVisible);
    EXPECT_FALSE(window.blending);
    clearRequests();
    input.specialKey(3); // F3 and every other special key is ignored
    EXPECT_EQ(0, window.idleCalls);
}

TEST_F(InputHandlerTest, F2ResetsToTheStartValues) {
    app.startAreaLightSubdivisions = 4;
    app.startTraceDepth = 3;
    app.startReflectionSamples = 2;
    settings().areaLightSubdivisions = 99;
    settings().traceDepth = 9;
    settings().reflectionSamples = 77;
    settings().antiAliasing = true;
    light->type = Light::areaSampling;
    light->position = Vector3(5, 5, 5);
    app.cameraYaw = 2.0f;
    app.cameraPitch = -1.0f;
    app.moveSpeed = 0.6f;
    renderer.camera.position = Vector3(0, 0, 0);
    renderer.robot = RobotState{true, false, false, false, false, false};

    input.specialKey(keyF2);
    EXPECT_EQ(4, settings().areaLightSubdivisions);
    EXPECT_EQ(3, settings().traceDepth);
    EXPECT_EQ(2, settings().reflectionSamples);
    EXPECT_TRUE(settings().antiAliasing); // kept
    EXPECT_EQ(Light::pointSampling, light->type);
    EXPECT_EQ(Vector3(5, 5, 5), light->position); // kept
    EXPECT_EQ(defaultCameraYaw, app.cameraYaw);
    EXPECT_EQ(defaultCameraPitch, app.cameraPitch);
    EXPECT_EQ(0.6f, app.moveSpeed); // kept
    EXPECT_EQ(Camera::defaultPosition, renderer.camera.position);
    EXPECT_EQ(Quaternion(), renderer.camera.orientation);
    EXPECT_TRUE(renderer.robot.robotAnimationOn);
    EXPECT_TRUE(renderer.robot.resetAnimation);
    EXPECT_TRUE(renderer.animating);
    EXPECT_TRUE(renderer.viewChanged);
    EXPECT_TRUE(window.idleEnabled);
}

TEST_F(InputHandlerTest, HoldingTheRightButtonMovesForward) {
    input.mouseButton(MouseButton::right, true);
    EXPECT_TRUE(app.mouseButtonHeld);
    EXPECT_TRUE(window.idleEnabled);
    input.updateCamera();
    const Vector3 start = renderer.camera.position;
    const Vector3 forward = normalize(renderer.camera.orientation.rotate(Vector3(0, 0, 1)));
    for (int i = 0; i < 10; ++i) {
        input.idle();
    }
    const Vector3 moved = renderer.camera.position - start;
    EXPECT_NEAR(6.0f, moved.length(), 1e-4f);
    EXPECT_NEAR(6.0f, dot(moved, forward), 1e-4f);
    EXPECT_TRUE(window.idleEnabled); // a held button keeps the loop running

    input.mouseButton(MouseButton::right, false);
    EXPECT_FALSE(app.mouseButtonHeld);
    EXPECT_EQ(0.0f, app.moveSpeed);
    input.mouseButton(MouseButton::left, true);
    EXPECT_EQ(-0.6f, app.moveSpeed);
    input.mouseButton(MouseButton::left, false);
    input.mouseButton(MouseButton::other, true);
    EXPECT_FALSE(app.mouseButtonHeld);
    EXPECT_EQ(0.0f, app.moveSpeed);
}

TEST_F(InputHandlerTest, MouseLookTurnsInFixedStepsAndRecentresThePointer) {
    input.passiveMotion(40, 10); // right of and above the centre (32, 32)
    EXPECT_TRUE(app.warpPending);
    EXPECT_TRUE(renderer.viewChanged);
    input.updateCamera();
    EXPECT_FLOAT_EQ(defaultCameraYaw + 0.04f, app.cameraYaw);
    EXPECT_FLOAT_EQ(defaultCameraPitch - 0.04f, app.cameraPitch);
    EXPECT_EQ(1, window.warps);
    EXPECT_EQ(32, window.warpedTo[0]);
    EXPECT_EQ(32, window.warpedTo[1]);
    EXPECT_FALSE(app.warpPending);

    // Without a new event nothing turns.
    input.updateCamera();
    EXPECT_FLOAT_EQ(defaultCameraYaw + 0.04f, app.cameraYaw);

    input.passiveMotion(3, 50);
    input.updateCamera();
    EXPECT_FLOAT_EQ(defaultCameraYaw, app.cameraYaw);
    EXPECT_FLOAT_EQ(defaultCameraPitch, app.cameraPitch);
}

TEST_F(InputHandlerTest, PointerAtTheCentreTurnsNothingButStillRecentres) {
    clearRequests();
    input.passiveMotion(32, 32);
    EXPECT_FALSE(renderer.viewChanged);
    EXPECT_EQ(0, window.idleCalls);
    EXPECT_TRUE(app.warpPending);
    // On the window edge the pointer is outside: no warp.
    app.warpPending = false;
    input.passiveMotion(0, 32);
    EXPECT_FALSE(app.warpPending);
}

TEST_F(InputHandlerTest, IdleRendersRequestedFramesThenStops) {
    renderer.viewChanged = true;
    window.idleEnabled = true;
    input.idle();
    EXPECT_TRUE(renderer.frameReady);
    EXPECT_EQ(1, window.redisplays);
    EXPECT_FALSE(window.idleEnabled);

    // Nothing changed: no frame.
    input.idle();
    EXPECT_EQ(1, window.redisplays);

    renderer.animating = true;
    window.idleEnabled = true;
    input.idle();
    EXPECT_EQ(2, window.redisplays);
    EXPECT_TRUE(window.idleEnabled);
}

TEST_F(InputHandlerTest, CameraOrientationPitchesThenYaws) {
    app.cameraYaw = 0.0f;
    app.cameraPitch = 0.5f;
    input.updateCamera();
    // Positive pitch looks down.
    const Vector3 view = renderer.camera.orientation.rotate(Vector3(0, 0, 1));
    EXPECT_NEAR(-std::sin(0.5f), view.y, 1e-6f);
    app.cameraYaw = 1.5707964f;
    input.updateCamera();
    const Vector3 turned = renderer.camera.orientation.rotate(Vector3(0, 0, 1));
    EXPECT_NEAR(std::cos(0.5f), turned.x, 1e-6f);
    EXPECT_NEAR(-std::sin(0.5f), turned.y, 1e-6f);
    EXPECT_NEAR(0.0f, turned.z, 1e-6f);
}

} // namespace
} // namespace Raytracer
