#pragma once

namespace Raytracer {

struct AppState;

// Allocates the frame buffer, creates the renderer, loads the scene from app.sceneDirectory and applies
// the start-up settings of app. Throws FatalError when something cannot be loaded or allocated.
void initialiseRenderer(AppState& app);

// Destroys the renderer, then the frame buffer. Safe to call more than once; only the first call acts.
void releaseRenderer(AppState& app);

} // namespace Raytracer
