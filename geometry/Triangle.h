#pragma once

#include "geometry/Primitive.h"

namespace Raytracer {

struct Vertex;

// A triangle over three vertices it does not own, with Wald's projection ray test: the plane and edge
// coefficients are precomputed on the dominant axis so that a test costs one division.
class Triangle final : public Primitive {
  public:
    // Computes the plane from the corner positions and writes the unit face normal into the three
    // vertices (the mesh builder overwrites them with the file's normals).
    Triangle(std::int32_t type, Vertex* a, Vertex* b, Vertex* c);

    int intersect(const Ray& ray, float& distance, float& u, float& v) const override;
    // Akenine-Moller's separating-axis test; touching counts as overlapping.
    bool overlapsBox(const Box& box) const override;
    void extent(float& min, float& max, int axis) const override;
    Vector3 normalAt(const Vector3& point, float u, float v) const override;
    void update() override;
    void textureCoordinates(const Vector3& point, float& u, float& v, float& w) const override;

    Vector3 normal; // (c - a) x (b - a): points away from a viewer who sees a, b, c counter-clockwise
    Vertex* a;
    Vertex* b;
    Vertex* c;
    float planeU = 0.0f; // the plane divided by its dominant normal component
    float planeV = 0.0f;
    float planeDist = 0.0f;
    std::int32_t projAxis = 0; // dominant axis k; the others are (k + 1) mod 3 and (k + 2) mod 3
    float cornerU = 0.0f;      // a's coordinates on those two axes
    float cornerV = 0.0f;
    float betaV = 0.0f;        // edge coefficients: barycentric weights from a projected point
    float betaU = 0.0f;
    float gammaU = 0.0f;
    float gammaV = 0.0f;

  private:
    void computePlane();
};

} // namespace Raytracer
