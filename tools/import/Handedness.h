#pragma once

#include "animation/MsModel.h"

namespace Raytracer::Import {

// MilkShape's space is right-handed; the viewer's is left-handed (its camera looks along +z with +x
// to the right), so a model read as it is would show as its mirror image. Mirrors model in x, which
// keeps the way it faces: positions, normals, bind poses and keys, with every triangle's corners
// reversed so that they keep their turn as seen from outside.
void mirrorToViewerSpace(msModel& model);

} // namespace Raytracer::Import
