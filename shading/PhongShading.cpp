#include "shading/PhongShading.h"

#include "geometry/Primitive.h"
#include "shading/Material.h"
#include "shading/Light.h"
#include "shading/Map.h"

#include <cmath>

namespace Raytracer {

namespace {

float scalar(const Map* map) {
    float out[3];
    return map->lookup(out, 0.0f, 0.0f, 0.0f)[0];
}

} // namespace

void PhongShading::diffuseTerm(const Vector3& L, const Vector3& N, float& vis, const Light& light,
                               const Primitive& primitive, const Color& surface, Color& result) const {
    const float d = L.y * N.y + L.x * N.x + L.z * N.z;
    // Light from behind the surface does not reach it: no two-sided lighting.
    if (d <= 0.0f) {
        return;
    }
    const float x = d * scalar(materialOf(primitive).diffuse) * vis;
    result.r += x * surface.r * light.color.r;
    result.g += x * surface.g * light.color.g;
    result.b += x * surface.b * light.color.b;
}

void PhongShading::specularTerm(const Ray& ray, const Primitive& primitive, const Light& light,
                                const Vector3& L, const Vector3& N, float& vis, Color& result) const {
    // L mirrored about the surface plane: its dot with the ray direction is the cosine between the
    // reflected light and the direction towards the viewer.
    const float twice = 2.0f * dot(N, L);
    const Vector3 R(L.x - twice * N.x, L.y - twice * N.y, L.z - twice * N.z);
    const float s = dot(R, ray.direction);
    if (s <= 0.0f) {
        return;
    }
    const float n = highlightExponent;
    const float x = s * scalar(materialOf(primitive).specular) * vis / (n - n * s + s);
    result.r += x * light.color.r;
    result.g += x * light.color.g;
    result.b += x * light.color.b;
}

Vector3 PhongShading::reflect(const Ray& ray, const Vector3& N) const {
    const Vector3& D = ray.direction;
    const float twice = 2.0f * dot(D, N);
    return {D.x - twice * N.x, D.y - twice * N.y, D.z - twice * N.z};
}

Vector3 PhongShading::refract(const Ray& ray, const Vector3& N, float eta, float& c, float& k) const {
    const Vector3& D = ray.direction;
    const float m = eta * c - std::sqrt(k);
    return {eta * D.x + m * N.x, eta * D.y + m * N.y, eta * D.z + m * N.z};
}

} // namespace Raytracer
