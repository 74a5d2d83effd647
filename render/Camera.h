#pragma once

#include "math/Quaternion.h"
#include "math/Vector3.h"

namespace Raytracer {

// Pinhole camera. Camera space: +x right, +y up, +z along the view; the image plane is
// z = screenDistance and spans [screenLeft, screenRight] x [screenBottom, screenTop].
struct Camera {
    static constexpr Vector3 defaultPosition{7.0f, 13.05f, -18.25f};

    float screenLeft = -4.0f;
    float screenBottom = -4.0f;
    float screenRight = 4.0f;
    float screenTop = 4.0f;
    float pixelWidth = 0.0f;  // image-plane width of one pixel: 8 / imageWidth
    float pixelHeight = 0.0f; // 8 / imageHeight
    Vector3 position = defaultPosition;
    Quaternion orientation; // camera-to-world rotation (w, x, y, z)
    float screenDistance = 5.0f;

    Camera() = default;
    Camera(int imageWidth, int imageHeight)
        : pixelWidth(8.0f / static_cast<float>(imageWidth)),
          pixelHeight(8.0f / static_cast<float>(imageHeight)) {}
};

} // namespace Raytracer
