#pragma once

#include "tools/import/StageLayout.h"
#include "tools/import/StillParts.h"

#include <array>
#include <optional>
#include <string>

namespace Raytracer::Import {

// Where the still objects went.
struct ObjectPlace {
    double x = 0.0, z = 0.0; // the middle of the model's footprint
    double floor = 0.0;      // the height it stands on
    double scale = 1.0;      // scene units per file unit
    double height = 0.0;     // scene units
};

// Scales parts to height scene units (their own size when absent), turns them by turnDegrees about
// the vertical and stands them on the stage's floor at (x, z), or else at the free spot nearest the
// middle: one where their box overlaps no object's box nor the middle where the robot and the
// orbiting models move. Throws FatalError with one line naming path when no place fits.
ObjectPlace placeObjects(StillParts& parts, const StageLayout& stage, std::optional<double> height,
                         std::optional<std::array<double, 2>> at, double turnDegrees, const std::string& path);

} // namespace Raytracer::Import
