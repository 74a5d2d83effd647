#pragma once

#include <string>
#include <vector>

namespace Raytracer::Scenegen {

// One material in this program's reading of the MTL keys: Kd the colour, Ns the reflectivity in
// percent, d the opacity, Ni the refractive index, the red of Ks the specular weight, the red of Ka
// the blur of reflections, map_Ka a colour texture and map_refl a grey reflectivity texture (paths
// from the working directory). The diffuse weight is what reflection and transparency leave:
// 1 - Ns/100 - (1 - d).
struct MtlEntry {
    std::string name;
    double color[3] = {0.8, 0.8, 0.8};
    double reflectivityPercent = 0.0;
    double opacity = 1.0;
    double refractionIndex = 1.0;
    double specular = 0.0;
    double reflectionBlur = 0.0;
    std::string colorTexture;
    std::string reflectivityTexture;
};

// The MTL text: the comment lines, then one "newmtl" block per entry, every key written. The loaders
// pick the first material whose name ends with the usemtl name, so no name may end with another.
std::string mtlText(const std::vector<std::string>& comments, const std::vector<MtlEntry>& entries);

} // namespace Raytracer::Scenegen
