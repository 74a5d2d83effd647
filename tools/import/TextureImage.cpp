#include "tools/import/TextureImage.h"

#include "tools/scenegen/TgaWriter.h"

#include <stb_image.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>

namespace Raytracer::Import {

namespace {

namespace fs = std::filesystem;

struct StbFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

// The TGA header stores sizes in 16 bits.
constexpr int largestSide = std::numeric_limits<std::uint16_t>::max();

// The file a texture reference names: from the model's folder, or absolute; a path from the machine
// that authored the model is tried by its file name alone beside the model.
fs::path textureFile(std::string reference, const std::string& modelPath) {
    std::replace(reference.begin(), reference.end(), '\\', '/');
    const fs::path folder = fs::path(modelPath).parent_path();
    const fs::path named = fs::path(reference).is_absolute() ? fs::path(reference) : folder / reference;
    std::error_code error;
    return fs::exists(named, error) ? named : folder / fs::path(reference).filename();
}

void keep(ImportedMaterial& material, const std::uint8_t* rgb, int width, int height) {
    Scenegen::TgaImage image(width, height, 3);
    std::copy(rgb, rgb + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3,
              image.pixels.begin());
    material.textureBytes = Scenegen::tgaBytes(image);
    material.bottomOrigin = false;
    material.rowScale = static_cast<double>(height) / width;
}

} // namespace

std::string keepDecodedTexture(ImportedMaterial& material, const aiScene& scene, const std::string& reference,
                               const std::string& modelPath) {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::unique_ptr<stbi_uc, StbFree> pixels;
    if (const aiTexture* embedded = scene.GetEmbeddedTexture(reference.c_str())) {
        if (embedded->mHeight > 0) {
            // Uncompressed texels, stored blue, green, red, alpha.
            if (embedded->mWidth > largestSide || embedded->mHeight > largestSide) {
                return "it is larger than a TGA file holds";
            }
            std::vector<std::uint8_t> rgb;
            for (unsigned int i = 0; i < embedded->mWidth * embedded->mHeight; ++i) {
                rgb.insert(rgb.end(), {embedded->pcData[i].r, embedded->pcData[i].g, embedded->pcData[i].b});
            }
            keep(material, rgb.data(), static_cast<int>(embedded->mWidth),
                 static_cast<int>(embedded->mHeight));
            return {};
        }
        pixels.reset(stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(embedded->pcData),
                                           static_cast<int>(embedded->mWidth), &width, &height, &channels,
                                           3));
    } else {
        const fs::path file = textureFile(reference, modelPath);
        pixels.reset(stbi_load(file.c_str(), &width, &height, &channels, 3));
        if (!pixels && !fs::exists(file)) {
            return "no such file";
        }
    }
    if (!pixels) {
        return std::string("it cannot be decoded (") + stbi_failure_reason() + ")";
    }
    if (width > largestSide || height > largestSide) {
        return "it is larger than a TGA file holds";
    }
    keep(material, pixels.get(), width, height);
    return {};
}

} // namespace Raytracer::Import
