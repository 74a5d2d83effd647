#pragma once

#include "geometry/MaterialBase.h"
#include "geometry/Primitive.h"

namespace Raytracer {

class Map;

// A surface description: nine map slots. The two texture slots may be empty (null).
struct Material : MaterialBase {
    const Map* color = nullptr;          // surface colour
    const Map* reflectivity = nullptr;   // weight of the mirror ray
    const Map* transparency = nullptr;   // weight of the refracted ray
    const Map* diffuse = nullptr;        // weight of the diffuse term
    const Map* specular = nullptr;       // weight of the specular term
    const Map* reflectionBlur = nullptr; // jitter radius of reflected rays
    const Map* refractionIndex = nullptr;
    const Map* colorTexture = nullptr;        // multiplies color when present
    const Map* reflectivityTexture = nullptr; // scales the mirror ray when present
};

// The material of a lit or environment primitive; every material a primitive carries is a Material.
inline const Material& materialOf(const Primitive& primitive) {
    return static_cast<const Material&>(*primitive.material);
}

} // namespace Raytracer
