#include "scene/MaterialBuilder.h"

#include "shading/Material.h"
#include "scene/MtlMaterial.h"
#include "scene/Scene.h"
#include "shading/ColorMap.h"
#include "shading/FloatMap.h"
#include "shading/Texture.h"
#include "shading/TextureBW.h"

namespace Raytracer {

const Material* buildMaterial(Scene& owner, const MtlMaterial* record) {
    Material* material = owner.create<Material>();
    const auto constant = [&](float value) { return owner.create<FloatMap>(value); };
    if (record == nullptr) {
        material->color = owner.create<ColorMap>(Color(0.2f, 0.2f, 0.2f));
        material->reflectivity = constant(0.0f);
        material->transparency = constant(0.0f);
        material->diffuse = constant(0.2f);
        material->specular = constant(0.8f);
        material->reflectionBlur = constant(0.0f);
        material->refractionIndex = constant(1.5f);
        return material;
    }
    const MtlMaterial& m = *record;
    material->color = owner.create<ColorMap>(
        Color(static_cast<float>(m.Kd[0]), static_cast<float>(m.Kd[1]), static_cast<float>(m.Kd[2])));
    material->reflectivity = constant(static_cast<float>(m.Ns * 0.01));
    material->transparency = constant(static_cast<float>(1.0 - m.d));
    // 1 - reflectivity - transparency, in double, in the order the files have always been read with.
    material->diffuse = constant(static_cast<float>(((1.0 - 0.01 * m.Ns) - 1.0) + m.d));
    material->specular = constant(static_cast<float>(m.Ks[0]));
    material->reflectionBlur = constant(static_cast<float>(m.Ka[0]));
    material->refractionIndex = constant(static_cast<float>(m.Ni));
    if (!m.mapKa.empty()) {
        material->colorTexture = owner.create<Texture>(m.mapKa);
    }
    if (!m.mapRefl.empty()) {
        material->reflectivityTexture = owner.create<TextureBW>(m.mapRefl);
    }
    return material;
}

} // namespace Raytracer
