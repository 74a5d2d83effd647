#pragma once

#include "app/WindowSystem.h"

namespace Raytracer {

// The window stand-in of the headless renderer: there is nothing to draw or warp, and every frame is
// rendered on request, so only quit() acts.
class HeadlessWindow final : public WindowSystem {
  public:
    void setIdleEnabled(bool enabled) override { idleEnabled = enabled; }
    void postRedisplay() override {}
    void warpPointer(int, int) override {}
    void setBlending(bool) override {}
    void quit() override;

    bool idleEnabled = true;
};

} // namespace Raytracer
