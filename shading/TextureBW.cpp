#include "shading/TextureBW.h"

#include "shading/TexelFootprint.h"
#include "shading/TgaFile.h"

namespace Raytracer {

TextureBW::TextureBW(const std::string& path) {
    const TgaPixels image = readTgaPixels(path, 1);
    width = image.width;
    height = image.height;
    pixels.resize(image.bytes.size());
    // Scaled by 1/256 like the colour texture, so 255 reads just under 1.
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<float>(image.bytes[i]) * 0.00390625f;
    }
}

const float* TextureBW::lookup(float* out, float s, float t, float) const {
    const TexelFootprint f(s, t, width, height);
    const float p00 = pixels[static_cast<std::size_t>(f.y0) * width + f.x0];
    const float p10 = pixels[static_cast<std::size_t>(f.y0) * width + f.x1];
    const float p01 = pixels[static_cast<std::size_t>(f.y1) * width + f.x0];
    const float p11 = pixels[static_cast<std::size_t>(f.y1) * width + f.x1];
    out[0] = p00 * (1.0f - f.fx) * (1.0f - f.fy) + p10 * f.fx * (1.0f - f.fy) + p01 * (1.0f - f.fx) * f.fy +
             p11 * f.fx * f.fy;
    out[1] = 0.0f;
    out[2] = 0.0f;
    return out;
}

} // namespace Raytracer
