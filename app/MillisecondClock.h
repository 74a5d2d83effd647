#pragma once

namespace Raytracer {

// Wall-clock milliseconds since the process started: the frame-rate clock of the overlay.
long clockMilliseconds();

} // namespace Raytracer
