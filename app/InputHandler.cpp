#include "app/InputHandler.h"

#include "app/MillisecondClock.h"
#include "render/Renderer.h"
#include "scene/Scene.h"
#include "shading/Light.h"

#include <cmath>

namespace Raytracer {

namespace {

constexpr float turnStep = 0.04f;  // radians per motion event and axis
constexpr float moveStep = 0.3f;   // keys w, a, s, d
constexpr float lightStep = 0.3f;  // keys y, u, r, t
constexpr float mouseSpeed = 0.6f; // distance per idle call while a button is held

constexpr int maxTraceDepth = 10;
constexpr int maxAreaLightSubdivisions = 256;
constexpr int maxReflectionSamples = 128;

} // namespace

void InputHandler::requestRedraw() {
    m_app.renderer->viewChanged = true;
}

void InputHandler::keyboard(unsigned char key) {
    Renderer& renderer = *m_app.renderer;
    RenderSettings& settings = *renderer.settings;
    RobotState& robot = renderer.robot;
    Camera& camera = renderer.camera;
    // Without lights the light keys have nothing to act on and are ignored like unknown keys.
    Light* light = renderer.scene->firstLight();

    switch (key) {
    case 27:
        m_window.quit();
        return;
    case '+':
        if (settings.traceDepth < maxTraceDepth) {
            ++settings.traceDepth;
        }
        requestRedraw();
        break;
    case '-':
        if (settings.traceDepth >= 2) {
            --settings.traceDepth;
        }
        requestRedraw();
        break;
    case ']':
        if (settings.areaLightSubdivisions < maxAreaLightSubdivisions) {
            ++settings.areaLightSubdivisions;
        }
        requestRedraw();
        break;
    case '[':
        // Only 1 is protected: a start value of 0 or below keeps going down, as it always has.
        if (settings.areaLightSubdivisions != 1) {
            --settings.areaLightSubdivisions;
        }
        requestRedraw();
        break;
    case 'l':
        if (settings.reflectionSamples < maxReflectionSamples) {
            ++settings.reflectionSamples;
        }
        requestRedraw();
        break;
    case 'k':
        if (settings.reflectionSamples >= 2) {
            --settings.reflectionSamples;
        }
        requestRedraw();
        break;
    case 'o':
        settings.antiAliasing = !settings.antiAliasing;
        requestRedraw();
        break;
    case 'j':
        if (light == nullptr) {
            return;
        }
        light->type = light->type == Light::areaSampling ? Light::pointSampling : Light::areaSampling;
        requestRedraw();
        break;
    case 'w':
        camera.position.y += moveStep;
        requestRedraw();
        break;
    case 's':
        camera.position.y -= moveStep;
        requestRedraw();
        break;
    case 'a':
        camera.position -= camera.orientation.rotate(Vector3(moveStep, 0.0f, 0.0f));
        requestRedraw();
        break;
    case 'd':
        camera.position += camera.orientation.rotate(Vector3(moveStep, 0.0f, 0.0f));
        requestRedraw();
        break;
    case 'y':
    case 'u':
    case 't':
    case 'r':
        if (light == nullptr) {
            return;
        }
        if (key == 'y') {
            light->position.x += lightStep;
        } else if (key == 'u') {
            light->position.x -= lightStep;
        } else if (key == 't') {
            light->position.z += lightStep;
        } else {
            light->position.z -= lightStep;
        }
        requestRedraw();
        break;
    case 'c':
        robot.walk = true;
        robot.jump = robot.crouch = robot.loop = false;
        robot.robotAnimationOn = true;
        robot.resetAnimation = false;
        renderer.animating = true;
        break;
    case 'g':
        // Jump only arms the state: it neither starts the animation nor asks for a frame.
        robot.jump = true;
        robot.walk = robot.crouch = robot.loop = false;
        robot.robotAnimationOn = true;
        robot.resetAnimation = false;
        return;
    case 'b':
        robot.crouch = true;
        robot.walk = robot.jump = robot.loop = false;
        robot.robotAnimationOn = true;
        robot.resetAnimation = false;
        renderer.animating = true;
        break;
    case 'v':
        if (robot.loop) {
            return;
        }
        robot.loop = true;
        robot.walk = robot.jump = robot.crouch = false;
        robot.robotAnimationOn = true;
        robot.resetAnimation = false;
        renderer.animating = true;
        requestRedraw();
        break;
    case 'h':
        if (!robot.robotAnimationOn) {
            return;
        }
        renderer.animating = false;
        robot = RobotState{false, false, false, false, false, false};
        m_window.setIdleEnabled(false);
        return;
    default:
        return;
    }
    m_window.setIdleEnabled(true);
}

void InputHandler::resetToDefaults() {
    Renderer& renderer = *m_app.renderer;
    RenderSettings& settings = *renderer.settings;
    settings.areaLightSubdivisions = m_app.startAreaLightSubdivisions;
    settings.traceDepth = m_app.startTraceDepth;
    settings.reflectionSamples = m_app.startReflectionSamples;
    m_app.cameraYaw = defaultCameraYaw;
    m_app.cameraPitch = defaultCameraPitch;
    // The light goes back to point sampling whatever the command line chose.
    if (Light* light = renderer.scene->firstLight()) {
        light->type = Light::pointSampling;
    }
    renderer.camera.position = Camera::defaultPosition;
    renderer.camera.orientation = Quaternion();
    renderer.robot.robotAnimationOn = true;
    renderer.robot.resetAnimation = true;
    renderer.animating = true;
    renderer.viewChanged = true;
}

void InputHandler::specialKey(int key) {
    if (key == keyF1) {
        m_app.helpVisible = !m_app.helpVisible;
        m_window.setBlending(m_app.helpVisible);
        requestRedraw();
    } else if (key == keyF2) {
        resetToDefaults();
    } else {
        return;
    }
    m_window.setIdleEnabled(true);
}

void InputHandler::mouseButton(MouseButton button, bool pressed) {
    if (button == MouseButton::other) {
        return;
    }
    if (pressed) {
        m_app.moveSpeed = button == MouseButton::left ? -mouseSpeed : mouseSpeed;
        requestRedraw();
        m_app.mouseButtonHeld = true;
        m_window.setIdleEnabled(true);
    } else {
        m_app.mouseButtonHeld = false;
        m_app.moveSpeed = 0.0f;
    }
}

void InputHandler::passiveMotion(int x, int y) {
    const int cx = m_app.imageWidth / 2;
    const int cy = m_app.imageHeight / 2;
    m_app.pointerMoved = true;
    m_app.turnLeft = x < cx;
    m_app.turnRight = x > cx;
    if (m_app.turnLeft || m_app.turnRight) {
        requestRedraw();
        m_window.setIdleEnabled(true);
    }
    m_app.turnUp = y < cy;
    m_app.turnDown = y > cy;
    if (m_app.turnUp || m_app.turnDown) {
        requestRedraw();
        m_window.setIdleEnabled(true);
    }
    if (x > 0 && x < m_app.imageWidth && y > 0 && y < m_app.imageHeight) {
        m_app.warpPending = true;
    }
}

void InputHandler::updateCamera() {
    Camera& camera = m_app.renderer->camera;
    if (m_app.pointerMoved) {
        if (m_app.turnLeft) {
            m_app.cameraYaw -= turnStep;
        } else if (m_app.turnRight) {
            m_app.cameraYaw += turnStep;
        }
        if (m_app.turnDown) {
            m_app.cameraPitch += turnStep;
        } else if (m_app.turnUp) {
            m_app.cameraPitch -= turnStep;
        }
        m_app.pointerMoved = false;
    }
    // Pitch first, then yaw: the view is tilted about its own x axis before it is turned about world y,
    // so a and d stay horizontal.
    const float halfYaw = m_app.cameraYaw / 2.0f;
    const float halfPitch = m_app.cameraPitch / 2.0f;
    const Quaternion yaw(std::cos(halfYaw), 0.0f, std::sin(halfYaw), 0.0f);
    const Quaternion pitch(std::cos(halfPitch), std::sin(halfPitch), 0.0f, 0.0f);
    camera.orientation = multiply(yaw, pitch).normalized();

    const Vector3 forward = normalize(camera.orientation.rotate(Vector3(0.0f, 0.0f, 1.0f)));
    camera.position += forward * m_app.moveSpeed;
    if (m_app.moveSpeed != 0.0f) {
        requestRedraw();
        m_window.setIdleEnabled(true);
    }
    if (m_app.warpPending) {
        m_window.warpPointer(m_app.imageWidth / 2, m_app.imageHeight / 2);
        m_app.warpPending = false;
    }
}

void InputHandler::idle() {
    updateCamera();
    Renderer& renderer = *m_app.renderer;
    if (renderer.animating || renderer.viewChanged) {
        m_app.frameStartTicks = clockMilliseconds();
        renderer.renderFrame();
        m_window.postRedisplay();
    }
    if (!renderer.animating && !m_app.mouseButtonHeld) {
        m_window.setIdleEnabled(false);
    }
}

} // namespace Raytracer
