#pragma once

#include "app/AppState.h"
#include "app/WindowSystem.h"

namespace Raytracer {

// Special keys, numbered as GLUT numbers them.
enum SpecialKey : int { keyF1 = 1, keyF2 = 2 };

// Only the left and right buttons act; every other button arrives as `other` and is ignored.
enum class MouseButton { left, right, other };

// The window's input callbacks and the idle loop, as plain code: keys and mouse change the settings,
// the camera, the first light and the robot commands, and decide when frames are rendered.
class InputHandler {
  public:
    InputHandler(AppState& app, WindowSystem& window) : m_app(app), m_window(window) {}

    void keyboard(unsigned char key);
    void specialKey(int key);
    void mouseButton(MouseButton button, bool pressed);
    // Pointer moved with no button down; window coordinates, y growing downward.
    void passiveMotion(int x, int y);
    // One turn of the idle loop: update the camera, render a frame if anything changed, and stop
    // idling when nothing keeps the loop busy.
    void idle();
    // Applies mouse look and movement to the renderer's camera.
    void updateCamera();

  private:
    void requestRedraw();
    void resetToDefaults();

    AppState& m_app;
    WindowSystem& m_window;
};

} // namespace Raytracer
