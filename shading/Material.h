#pragma once

namespace Raytracer {

class Map;

// A surface description: nine map slots. The two texture slots may be empty (null).
struct Material {
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

} // namespace Raytracer
