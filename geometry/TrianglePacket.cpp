#include "geometry/TrianglePacket.h"

#include "geometry/Triangle.h"

#include <limits>

namespace Raytracer {

void TrianglePacket::set(int lane, const Triangle* source) {
    triangle[lane] = source;
    if (source == nullptr) {
        axis[lane] = 0;
        planeU[lane] = planeV[lane] = 0.0f;
        planeDist[lane] = std::numeric_limits<float>::quiet_NaN();
        cornerU[lane] = cornerV[lane] = 0.0f;
        betaV[lane] = betaU[lane] = gammaU[lane] = gammaV[lane] = 0.0f;
        normalX[lane] = normalY[lane] = normalZ[lane] = 0.0f;
        return;
    }
    axis[lane] = source->projAxis;
    planeU[lane] = source->planeU;
    planeV[lane] = source->planeV;
    planeDist[lane] = source->planeDist;
    cornerU[lane] = source->cornerU;
    cornerV[lane] = source->cornerV;
    betaV[lane] = source->betaV;
    betaU[lane] = source->betaU;
    gammaU[lane] = source->gammaU;
    gammaV[lane] = source->gammaV;
    normalX[lane] = source->normal.x;
    normalY[lane] = source->normal.y;
    normalZ[lane] = source->normal.z;
}

} // namespace Raytracer
