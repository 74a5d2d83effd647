#include "tools/import/ObjectPlacement.h"

#include "math/FatalError.h"
#include "tools/scenegen/TextFormat.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace Raytracer::Import {

namespace {

using Point = Scenegen::Mesh::Point;

// The robot stands at the origin and the other models orbit it at radii 6 to 8
// (animation/AnimationClock), each about a unit across: no object's free spot comes nearer along both
// x and z.
constexpr double modelsReach = 10.0;
// The scene's fixed bounds on every axis (scene/StageLoader).
constexpr double sceneBound = 240.0;
// Space kept between a placed model's box and the boxes around it, and the step of the search.
constexpr double clearance = 0.25;
constexpr double searchStep = 0.5;

Box bounds(const StillParts& still) {
    constexpr double infinity = std::numeric_limits<double>::infinity();
    Box box{{infinity, infinity, infinity}, {-infinity, -infinity, -infinity}};
    for (const StillPart& part : still.parts) {
        const Point low = part.mesh.minCorner();
        const Point high = part.mesh.maxCorner();
        box.low = {std::min(box.low.x, low.x), std::min(box.low.y, low.y), std::min(box.low.z, low.z)};
        box.high = {std::max(box.high.x, high.x), std::max(box.high.y, high.y), std::max(box.high.z, high.z)};
    }
    return box;
}

Box moved(const Box& box, double x, double y, double z, double grow = 0.0) {
    return {{box.low.x + x - grow, box.low.y + y - grow, box.low.z + z - grow},
            {box.high.x + x + grow, box.high.y + y + grow, box.high.z + z + grow}};
}

// The floor under the footprint's middle, when the whole footprint has floor under it.
std::optional<double> standing(const StageLayout& stage, const Box& footprint, double x, double z) {
    for (const double cx : {footprint.low.x, footprint.high.x}) {
        for (const double cz : {footprint.low.z, footprint.high.z}) {
            if (!stage.floorAt(x + cx, z + cz)) {
                return std::nullopt;
            }
        }
    }
    return stage.floorAt(x, z);
}

bool insideScene(const Box& box) {
    return box.low.x > -sceneBound && box.low.y > -sceneBound && box.low.z > -sceneBound &&
           box.high.x < sceneBound && box.high.y < sceneBound && box.high.z < sceneBound;
}

} // namespace

ObjectPlace placeObjects(StillParts& still, const StageLayout& stage, std::optional<double> height,
                         std::optional<std::array<double, 2>> at, double turnDegrees,
                         const std::string& path) {
    const Box own = bounds(still);
    const double ownHeight = own.high.y - own.low.y;
    if (height && !(ownHeight > 0.0)) {
        throw FatalError(path + ": the model has no height to fit (its triangles lie in one level plane)");
    }
    ObjectPlace place;
    place.scale = height ? *height / ownHeight : 1.0;
    place.height = place.scale * ownHeight;
    // Scaled and turned about the middle of its footprint, its lowest point at height 0.
    const double middleX = 0.5 * (own.low.x + own.high.x);
    const double middleZ = 0.5 * (own.low.z + own.high.z);
    for (StillPart& part : still.parts) {
        for (Point& p : part.mesh.positions) {
            p = {place.scale * (p.x - middleX), place.scale * (p.y - own.low.y),
                 place.scale * (p.z - middleZ)};
        }
        part.mesh.rotateY(turnDegrees * std::numbers::pi / 180.0);
    }
    const Box footprint = bounds(still);

    std::optional<double> floor;
    if (at) {
        place.x = (*at)[0];
        place.z = (*at)[1];
        floor = stage.floorAt(place.x, place.z);
        if (!floor) {
            throw FatalError(path + ": --at " + Scenegen::format("%g,%g", place.x, place.z) +
                             " is not above the stage's floor");
        }
    } else {
        std::vector<Box> taken = stage.boxes;
        constexpr double infinity = std::numeric_limits<double>::infinity();
        taken.push_back({{-modelsReach, -infinity, -modelsReach}, {modelsReach, infinity, modelsReach}});
        // Rings about the middle, each walked from the -x side; the first spot that is free wins.
        for (double r = 0.0; !floor && r < sceneBound; r += searchStep) {
            const int steps =
                std::max(1, static_cast<int>(std::ceil(2.0 * std::numbers::pi * r / searchStep)));
            for (int i = 0; i < steps && !floor; ++i) {
                const double angle = std::numbers::pi + 2.0 * std::numbers::pi * i / steps;
                const double x = r * std::cos(angle);
                const double z = r * std::sin(angle);
                const std::optional<double> ground = standing(stage, footprint, x, z);
                if (!ground) {
                    continue;
                }
                const Box box = moved(footprint, x, *ground, z, clearance);
                if (std::none_of(taken.begin(), taken.end(),
                                 [&](const Box& other) { return box.overlaps(other); })) {
                    place.x = x;
                    place.z = z;
                    floor = ground;
                }
            }
        }
        if (!floor) {
            throw FatalError(path + ": no free spot on the stage's floor holds the model, " +
                             Scenegen::format("%.3g", place.height) +
                             " units tall (a smaller --height fits)");
        }
    }
    place.floor = *floor;
    if (!insideScene(moved(footprint, place.x, place.floor, place.z))) {
        throw FatalError(
            path + ": the model, " + Scenegen::format("%.3g", place.height) +
            " units tall, reaches past the scene's bounds of -240 to 240 (a smaller --height fits)");
    }
    for (StillPart& part : still.parts) {
        part.mesh.translate(place.x, place.floor, place.z);
    }
    return place;
}

} // namespace Raytracer::Import
