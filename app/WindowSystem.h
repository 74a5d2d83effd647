#pragma once

namespace Raytracer {

// What the input handlers ask of the window toolkit. The GLUT shell forwards these to GLUT; the
// headless renderer and the tests supply their own.
class WindowSystem {
  public:
    // Registers (true) or unregisters (false) the idle callback; frames are rendered only while it is.
    virtual void setIdleEnabled(bool enabled) = 0;
    virtual void postRedisplay() = 0;
    // Moves the pointer, in window coordinates with y growing downward.
    virtual void warpPointer(int x, int y) = 0;
    // Alpha blending for the translucent help panel.
    virtual void setBlending(bool enabled) = 0;
    // Ends the process with status 0 (the Escape key); the exit handler cleans up.
    virtual void quit() = 0;

  protected:
    ~WindowSystem() = default;
};

} // namespace Raytracer
