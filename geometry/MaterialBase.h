#pragma once

namespace Raytracer {

// What a primitive is made of, as far as geometry knows: nothing. Primitives only carry it for the
// layers above; shading's Material is the one kind, and materialOf reads it back as one.
struct MaterialBase {};

} // namespace Raytracer
