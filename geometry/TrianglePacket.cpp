#include "geometry/TrianglePacket.h"

#include "geometry/Triangle.h"

#include <limits>

namespace Raytracer {

TrianglePacket::TrianglePacket(std::int32_t k, std::int32_t group_)
    : planeU{}, planeV{}, planeDist{}, cornerU{}, cornerV{}, betaV{}, betaU{}, gammaU{}, gammaV{}, axis(k), count(0),
      group(group_), order{}, normalX{}, normalY{}, normalZ{}, triangle{} {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    planeDist = Float4{nan, nan, nan, nan};
}

void TrianglePacket::set(int lane, const Triangle& source, std::int32_t place) {
    triangle[lane] = &source;
    order[lane] = place;
    planeU[lane] = source.planeU;
    planeV[lane] = source.planeV;
    planeDist[lane] = source.planeDist;
    cornerU[lane] = source.cornerU;
    cornerV[lane] = source.cornerV;
    betaV[lane] = source.betaV;
    betaU[lane] = source.betaU;
    gammaU[lane] = source.gammaU;
    gammaV[lane] = source.gammaV;
    normalX[lane] = source.normal.x;
    normalY[lane] = source.normal.y;
    normalZ[lane] = source.normal.z;
}

} // namespace Raytracer
