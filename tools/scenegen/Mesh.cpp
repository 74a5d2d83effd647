#include "tools/scenegen/Mesh.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace Raytracer::Scenegen {

namespace {

Mesh::Point normalised(double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0) {
        return {0.0, 0.0, 0.0};
    }
    return {x / length, y / length, z / length};
}

bool samePoint(const ProfilePoint& a, const ProfilePoint& b) {
    return a.radius == b.radius && a.height == b.height;
}

// The outward normal, in the (radius, height) plane, of the profile segment from a to b.
ProfilePoint segmentNormal(const ProfilePoint& a, const ProfilePoint& b) {
    const double dr = b.radius - a.radius;
    const double dh = b.height - a.height;
    const double length = std::sqrt(dr * dr + dh * dh);
    return {dh / length, -dr / length};
}

// Rings of vertices around the y axis, one per entry of radii/heights, with the given normals in the
// (radius, height) plane, joined by quads. A ring of radius 0 (a pole) gets one triangle per step.
void revolve(Mesh& mesh, const std::vector<ProfilePoint>& points, const std::vector<ProfilePoint>& normals,
             const std::vector<double>& ts, const std::vector<bool>& joinToNext, int segments) {
    const int first = static_cast<int>(mesh.positions.size());
    const int columns = segments + 1;
    for (std::size_t i = 0; i < points.size(); ++i) {
        for (int j = 0; j < columns; ++j) {
            // The last column repeats the first with s = 1, so texture coordinates never wrap inside
            // a triangle.
            const double angle = 2.0 * std::numbers::pi * (j % segments) / segments;
            const double c = std::cos(angle);
            const double s = -std::sin(angle);
            const Mesh::Point normal =
                normalised(normals[i].radius * c, normals[i].height, normals[i].radius * s);
            mesh.addVertex({points[i].radius * c, points[i].height, points[i].radius * s}, normal,
                           {static_cast<double>(j) / segments, ts[i]});
        }
    }
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        if (!joinToNext[i]) {
            continue;
        }
        for (int j = 0; j < segments; ++j) {
            const int a = first + static_cast<int>(i) * columns + j;
            const int b = a + 1;
            const int d = a + columns;
            const int c = d + 1;
            if (points[i].radius == 0.0) {
                mesh.addTriangle(a, c, d);
            } else if (points[i + 1].radius == 0.0) {
                mesh.addTriangle(a, b, c);
            } else {
                mesh.addQuad(a, b, c, d);
            }
        }
    }
}

} // namespace

int Mesh::addVertex(const Point& position, const Point& normal, const TexCoord& texCoord) {
    positions.push_back(position);
    normals.push_back(normal);
    texCoords.push_back(texCoord);
    return static_cast<int>(positions.size()) - 1;
}

void Mesh::addQuad(int a, int b, int c, int d) {
    addTriangle(a, b, c);
    addTriangle(a, c, d);
}

void Mesh::append(const Mesh& other) {
    const int offset = static_cast<int>(positions.size());
    positions.insert(positions.end(), other.positions.begin(), other.positions.end());
    normals.insert(normals.end(), other.normals.begin(), other.normals.end());
    texCoords.insert(texCoords.end(), other.texCoords.begin(), other.texCoords.end());
    for (const auto& triangle : other.triangles) {
        addTriangle(triangle[0] + offset, triangle[1] + offset, triangle[2] + offset);
    }
}

void Mesh::translate(double dx, double dy, double dz) {
    for (Point& p : positions) {
        p.x += dx;
        p.y += dy;
        p.z += dz;
    }
}

void Mesh::rotateY(double angle) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const auto turn = [c, s](Point& p) {
        const double x = p.x * c + p.z * s;
        const double z = -p.x * s + p.z * c;
        p.x = x;
        p.z = z;
    };
    std::for_each(positions.begin(), positions.end(), turn);
    std::for_each(normals.begin(), normals.end(), turn);
}

Mesh::Point Mesh::minCorner() const {
    Point result = positions.front();
    for (const Point& p : positions) {
        result = {std::min(result.x, p.x), std::min(result.y, p.y), std::min(result.z, p.z)};
    }
    return result;
}

Mesh::Point Mesh::maxCorner() const {
    Point result = positions.front();
    for (const Point& p : positions) {
        result = {std::max(result.x, p.x), std::max(result.y, p.y), std::max(result.z, p.z)};
    }
    return result;
}

Mesh lathe(const std::vector<ProfilePoint>& profile, int segments, double tScale) {
    const std::size_t count = profile.size();
    std::vector<ProfilePoint> normals(count);
    std::vector<double> ts(count, 0.0);
    std::vector<bool> joinToNext(count, false);
    double arc = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            const double dr = profile[i].radius - profile[i - 1].radius;
            const double dh = profile[i].height - profile[i - 1].height;
            arc += std::sqrt(dr * dr + dh * dh);
        }
        ts[i] = arc * tScale;
        double nr = 0.0;
        double nh = 0.0;
        if (i > 0 && !samePoint(profile[i - 1], profile[i])) {
            const ProfilePoint n = segmentNormal(profile[i - 1], profile[i]);
            nr += n.radius;
            nh += n.height;
        }
        if (i + 1 < count && !samePoint(profile[i], profile[i + 1])) {
            const ProfilePoint n = segmentNormal(profile[i], profile[i + 1]);
            nr += n.radius;
            nh += n.height;
            joinToNext[i] = true;
        }
        normals[i] = {nr, nh};
    }
    Mesh mesh;
    revolve(mesh, profile, normals, ts, joinToNext, segments);
    return mesh;
}

Mesh sphere(double radius, int segments, int rings, double tMax) {
    std::vector<ProfilePoint> points;
    std::vector<ProfilePoint> normals;
    std::vector<double> ts;
    for (int i = 0; i <= rings; ++i) {
        const double polar = std::numbers::pi * i / rings;
        const double r = i == 0 || i == rings ? 0.0 : std::sin(polar);
        const double h = -std::cos(polar);
        points.push_back({radius * r, radius * h});
        normals.push_back({r, h});
        ts.push_back(tMax * i / rings);
    }
    Mesh mesh;
    revolve(mesh, points, normals, ts, std::vector<bool>(points.size(), true), segments);
    return mesh;
}

Mesh bumpySphere(double radius, int triangles) {
    const int rings = std::max(2, static_cast<int>(std::lround(std::sqrt(triangles / 4.0)))) + 1;
    Mesh mesh = sphere(radius, 2 * (rings - 1), rings);
    for (Mesh::Point& p : mesh.positions) {
        const double latitude = std::asin(std::clamp(p.y / radius, -1.0, 1.0));
        const double longitude = std::atan2(p.z, p.x);
        const double scale = 1.0 + 0.04 * std::sin(9.0 * latitude) * std::sin(7.0 * longitude);
        p = {p.x * scale, p.y * scale, p.z * scale};
    }
    return mesh;
}

Mesh torus(double major, double minor, int segments, int sides) {
    Mesh mesh;
    for (int i = 0; i <= segments; ++i) {
        const double u = 2.0 * std::numbers::pi * (i % segments) / segments;
        for (int j = 0; j <= sides; ++j) {
            const double v = 2.0 * std::numbers::pi * (j % sides) / sides;
            const Mesh::Point n{std::cos(v) * std::cos(u), std::sin(v), -std::cos(v) * std::sin(u)};
            const Mesh::Point p{major * std::cos(u) + minor * n.x, minor * n.y,
                                -major * std::sin(u) + minor * n.z};
            mesh.addVertex(p, n, {static_cast<double>(i) / segments, static_cast<double>(j) / sides});
        }
    }
    const int columns = sides + 1;
    for (int i = 0; i < segments; ++i) {
        for (int j = 0; j < sides; ++j) {
            const int a = i * columns + j;
            mesh.addQuad(a, a + columns, a + columns + 1, a + 1);
        }
    }
    return mesh;
}

Mesh box(const Mesh::Point& min, const Mesh::Point& max) {
    Mesh mesh;
    // Each face: its outward normal and its corners counter-clockwise as seen from outside, starting
    // at texture coordinate (0, 0).
    struct Face {
        Mesh::Point normal;
        Mesh::Point corners[4];
    };
    const double x0 = min.x, y0 = min.y, z0 = min.z, x1 = max.x, y1 = max.y, z1 = max.z;
    const Face faces[6] = {
        {{0, 0, -1}, {{x1, y0, z0}, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}}},
        {{0, 0, 1}, {{x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}}},
        {{-1, 0, 0}, {{x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}}},
        {{1, 0, 0}, {{x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}}},
        {{0, -1, 0}, {{x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}}},
        {{0, 1, 0}, {{x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}, {x0, y1, z0}}},
    };
    const Mesh::TexCoord corners[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const Face& face : faces) {
        int index[4];
        for (int k = 0; k < 4; ++k) {
            index[k] = mesh.addVertex(face.corners[k], face.normal, corners[k]);
        }
        mesh.addQuad(index[0], index[1], index[2], index[3]);
    }
    return mesh;
}

Mesh proxyBox(const Mesh::Point& min, const Mesh::Point& max, double margin) {
    Mesh mesh;
    const double x[2] = {min.x - margin, max.x + margin};
    const double y[2] = {min.y - margin, max.y + margin};
    const double z[2] = {min.z - margin, max.z + margin};
    // Position k has x from bit 0, y from bit 1, z from bit 2.
    for (int k = 0; k < 8; ++k) {
        mesh.positions.push_back({x[k & 1], y[(k >> 1) & 1], z[(k >> 2) & 1]});
    }
    const int quads[6][4] = {{1, 0, 2, 3}, {4, 5, 7, 6}, {0, 4, 6, 2},
                             {5, 1, 3, 7}, {0, 1, 5, 4}, {6, 7, 3, 2}};
    for (const auto& q : quads) {
        mesh.addQuad(q[0], q[1], q[2], q[3]);
    }
    return mesh;
}

} // namespace Raytracer::Scenegen
