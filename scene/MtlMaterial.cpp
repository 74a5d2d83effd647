#include "scene/MtlMaterial.h"

namespace Raytracer {

int findMaterialByPrefix(const std::vector<MtlMaterial>& materials, std::string_view query) {
    for (std::size_t i = 0; i < materials.size(); ++i) {
        if (std::string_view(materials[i].name).starts_with(query)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int findMaterialByEnding(const std::vector<MtlMaterial>& materials, std::string_view materialText) {
    for (std::size_t i = 0; i < materials.size(); ++i) {
        if (std::string_view(materials[i].name).ends_with(materialText)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace Raytracer
