#include "tools/import/ModelSlot.h"

#include <array>

namespace Raytracer::Import {

namespace {

// Heights of the models tools/scenegen writes into meshes/, at their pose of time 0.
constexpr std::array<ModelSlot, 4> slots = {{
    {"robot", "cylon", 0, 9.76, true},
    {"ball", "ball", 1, 2.0, false},
    {"star", "star", 2, 1.8995, false},
    {"2ball", "2ball", 3, 1.44, false},
}};

} // namespace

const ModelSlot* findSlot(std::string_view name) {
    for (const ModelSlot& slot : slots) {
        if (name == slot.name) {
            return &slot;
        }
    }
    return nullptr;
}

std::string slotNames() {
    std::string names;
    for (const ModelSlot& slot : slots) {
        if (!names.empty()) {
            names += '|';
        }
        names += slot.name;
    }
    return names;
}

} // namespace Raytracer::Import
