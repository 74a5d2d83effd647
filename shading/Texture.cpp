#include "shading/Texture.h"

#include "shading/TexelFootprint.h"
#include "shading/TgaFile.h"

namespace Raytracer {

Texture::Texture(const std::string& path) {
    const TgaPixels image = readTgaPixels(path, 3);
    width = image.width;
    height = image.height;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    pixels.resize(count);
    // The file stores blue, green, red. Bytes are scaled by 1/256, so 255 reads just under 1.
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* bgr = &image.bytes[3 * i];
        pixels[i] = Color(static_cast<float>(bgr[2]) * 0.00390625f, static_cast<float>(bgr[1]) * 0.00390625f,
                          static_cast<float>(bgr[0]) * 0.00390625f);
    }
}

const float* Texture::lookup(float* out, float s, float t, float) const {
    const TexelFootprint f(s, t, width, height);
    const Color& p00 = pixels[static_cast<std::size_t>(f.y0) * width + f.x0];
    const Color& p10 = pixels[static_cast<std::size_t>(f.y0) * width + f.x1];
    const Color& p01 = pixels[static_cast<std::size_t>(f.y1) * width + f.x0];
    const Color& p11 = pixels[static_cast<std::size_t>(f.y1) * width + f.x1];
    out[0] = p00.r * (1.0f - f.fx) * (1.0f - f.fy) + p10.r * f.fx * (1.0f - f.fy) +
             p01.r * (1.0f - f.fx) * f.fy + p11.r * f.fx * f.fy;
    out[1] = p00.g * (1.0f - f.fx) * (1.0f - f.fy) + p10.g * f.fx * (1.0f - f.fy) +
             p01.g * (1.0f - f.fx) * f.fy + p11.g * f.fx * f.fy;
    out[2] = p00.b * (1.0f - f.fx) * (1.0f - f.fy) + p10.b * f.fx * (1.0f - f.fy) +
             p01.b * (1.0f - f.fx) * f.fy + p11.b * f.fx * f.fy;
    return out;
}

} // namespace Raytracer
