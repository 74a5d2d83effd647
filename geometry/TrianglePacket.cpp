#include "geometry/TrianglePacket.h"

#include "geometry/Triangle.h"

#include <limits>

namespace Raytracer {

TrianglePacket::TrianglePacket(std::int32_t k, std::int32_t group_)
    : planeU{}, planeV{}, planeDist{}, cornerU{}, cornerV{}, betaV{}, betaU{}, gammaU{}, gammaV{}, axis(k), count(0),
      group(group_) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    planeDist = Float4{nan, nan, nan, nan};
}

void setLane(TrianglePacket& packet, PacketLanes& lanes, int lane, const Triangle& source, std::int32_t place) {
    packet.planeU[lane] = source.planeU;
    packet.planeV[lane] = source.planeV;
    packet.planeDist[lane] = source.planeDist;
    packet.cornerU[lane] = source.cornerU;
    packet.cornerV[lane] = source.cornerV;
    packet.betaV[lane] = source.betaV;
    packet.betaU[lane] = source.betaU;
    packet.gammaU[lane] = source.gammaU;
    packet.gammaV[lane] = source.gammaV;
    lanes.order[lane] = place;
    lanes.normalX[lane] = source.normal.x;
    lanes.normalY[lane] = source.normal.y;
    lanes.normalZ[lane] = source.normal.z;
    lanes.triangle[lane] = &source;
}

} // namespace Raytracer
