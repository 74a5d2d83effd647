#pragma once

#include <array>
#include <cstdint>

namespace Raytracer {

// The records one OBJ section yields. Every index is already converted: zero-based, counted from the
// start of the file for positive indices in the file, relative to the section's own list for negative
// ones; -1 means absent. Values out of range are handed on as computed; the builders check them.

// A "v" (x, y, z), "vn" (x, y, z) or "vt" (u, v, w) line.
struct ObjVector {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// An "f" line. Corner i fills slot i of each array; slots beyond the corners hold -1. A face has at
// most four corners: further corners are ignored (the mesh builder uses only the first three), so
// cornerCount never exceeds the slots.
struct ObjFace {
    std::array<std::int32_t, 4> vertex{-1, -1, -1, -1};
    std::array<std::int32_t, 4> normal{-1, -1, -1, -1};
    std::array<std::int32_t, 4> texCoord{-1, -1, -1, -1};
    std::int32_t cornerCount = 0;
    std::int32_t material = -1; // index into the section's materials, from the last usemtl
};

// An "sp" or "pl" line.
struct ObjSpherePlane {
    std::int32_t vertex = -1;
    std::int32_t normalA = -1;
    std::int32_t normalB = -1;
    std::array<std::int32_t, 4> texCoord{-1, -1, -1, -1};
    std::int32_t material = -1;
};

// An "lp" line.
struct ObjPointLight {
    std::int32_t vertex = -1;
    std::int32_t material = -1;
};

// An "lq" line.
struct ObjQuadLight {
    std::array<std::int32_t, 4> vertex{-1, -1, -1, -1};
    std::int32_t material = -1;
};

// An "ld" line.
struct ObjDirLight {
    std::int32_t vertex = -1;
    std::int32_t normal = -1;
    std::int32_t material = -1;
};

// A "c" line.
struct ObjCamera {
    std::int32_t vertexA = -1;
    std::int32_t vertexB = -1;
    std::int32_t normal = -1;
};

} // namespace Raytracer
