#pragma once

namespace Raytracer {

struct Material;
struct MtlMaterial;
class Scene;

// The render-time material of an MTL record, or the default material when record is null. The maps
// and the material are owned by owner. Texture files are named relative to the working directory and
// loaded at once (a file that cannot be read throws FatalError).
//
// The MTL keys are read in this program's own sense: Kd is the colour, Ns a reflectivity in percent,
// 1 - d the transparency, Ks's red the specular weight, Ka's red the reflection blur, Ni the
// refractive index, map_Ka the colour texture and map_refl a greyscale reflectivity texture.
const Material* buildMaterial(Scene& owner, const MtlMaterial* record);

} // namespace Raytracer
