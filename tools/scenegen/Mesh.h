#pragma once

#include <array>
#include <vector>

namespace Raytracer::Scenegen {

// A triangle mesh as the scene files store it: one normal and one texture coordinate per position
// (the loader keeps one of each per position anyway), triangles wound counter-clockwise as seen from
// the side the normals point to.
struct Mesh {
    struct Point {
        double x = 0.0;
        double y = 0.0;
        double z = 0.0;
    };
    struct TexCoord {
        double s = 0.0;
        double t = 0.0;
    };

    std::vector<Point> positions;
    std::vector<Point> normals;
    std::vector<TexCoord> texCoords;
    std::vector<std::array<int, 3>> triangles; // zero-based indices into the three lists

    int addVertex(const Point& position, const Point& normal, const TexCoord& texCoord);
    void addTriangle(int a, int b, int c) { triangles.push_back({a, b, c}); }
    // Two triangles a, b, c and a, c, d.
    void addQuad(int a, int b, int c, int d);
    // Appends another mesh's vertices and triangles.
    void append(const Mesh& other);

    // Moves every position; normals stay.
    void translate(double dx, double dy, double dz);
    // Turns positions and normals about the +y axis by angle radians (+z towards +x).
    void rotateY(double angle);

    Point minCorner() const;
    Point maxCorner() const;
};

// A point on a profile curve turned about the y axis: radius from the axis and height. The profile's
// order decides which way the normals point (see lathe).
struct ProfilePoint {
    double radius = 0.0;
    double height = 0.0;
};

// A surface of revolution about the y axis with smooth normals, segments steps around. Walking the
// profile with the axis on the left (upwards on the outside) gives outward normals. A duplicated
// profile point starts a crease: the corner keeps a separate normal on each side. Texture coordinates:
// s runs 0..1 around, t along the profile by arc length times tScale.
Mesh lathe(const std::vector<ProfilePoint>& profile, int segments, double tScale = 0.0);

// A sphere about its centre with outward normals; s around (0..1), t from the south pole (0) to the
// north pole (tMax).
Mesh sphere(double radius, int segments, int rings, double tMax = 1.0);

// A sphere of about the given triangle count (segments twice the rings), its radius rippled by a few
// percent in latitude and longitude; the triangles of its pole fans are thin slivers.
Mesh bumpySphere(double radius, int triangles);

// A torus lying in the xz plane about the origin: ring radius major, tube radius minor.
Mesh torus(double major, double minor, int segments, int sides);

// An axis-aligned box with flat faces (four vertices per face) and texture coordinates 0..1 on every
// face.
Mesh box(const Mesh::Point& min, const Mesh::Point& max);

// The companion box of a renderable object: 8 positions and 12 triangles, no normals or texture
// coordinates, enclosing min..max grown by margin on every side.
Mesh proxyBox(const Mesh::Point& min, const Mesh::Point& max, double margin);

} // namespace Raytracer::Scenegen
