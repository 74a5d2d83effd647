#include "shading/TgaFile.h"

#include "math/FatalError.h"
#include "math/FileBytes.h"

#include <cstdio>

namespace Raytracer {

namespace {

constexpr long headerSize = 18;

// Image types 9, 10 and 11 are the run-length encoded forms of colour-mapped, true-colour and grey
// images; read as raw bytes they would give garbage pixels.
bool isRunLengthEncoded(std::uint8_t imageType) {
    return imageType >= 9 && imageType <= 11;
}

[[noreturn]] void refuse(const std::string& path, const std::string& problem) {
    throw FatalError("Error reading file " + path + ": " + problem);
}

} // namespace

TgaPixels readTgaPixels(const std::string& path, int bytesPerPixel) {
    const std::vector<std::uint8_t> contents = readFileBytes(path);
    if (static_cast<long>(contents.size()) < headerSize) {
        refuse(path, "the file holds " + std::to_string(contents.size()) + " bytes, shorter than the " +
                         std::to_string(headerSize) + "-byte header");
    }
    if (isRunLengthEncoded(contents[2])) {
        refuse(path, "the image is run-length encoded (type " + std::to_string(contents[2]) +
                         "); only uncompressed images are read");
    }

    TgaPixels image;
    image.width = contents[12] | (contents[13] << 8);
    image.height = contents[14] | (contents[15] << 8);
    if (image.width == 0 || image.height == 0) {
        refuse(path, "the header gives a size of " + std::to_string(image.width) + " x " +
                         std::to_string(image.height) + " pixels");
    }

    // The image ID (its length is the first byte) sits between the header and the pixels. Skipping it
    // leaves every file without an ID as it was and puts the pixels of the others where they belong.
    const std::size_t idLength = contents[0];
    const std::size_t pixelStart = static_cast<std::size_t>(headerSize) + idLength;
    const std::size_t pixelBytes = static_cast<std::size_t>(image.width) *
                                   static_cast<std::size_t>(image.height) *
                                   static_cast<std::size_t>(bytesPerPixel);
    const std::size_t available = contents.size() > pixelStart ? contents.size() - pixelStart : 0;
    if (pixelBytes > available) {
        refuse(path, "the header promises " + std::to_string(image.width) + " x " +
                         std::to_string(image.height) + " pixels (" + std::to_string(pixelBytes) +
                         " bytes) but the file holds " + std::to_string(available) + " bytes after its " +
                         std::to_string(pixelStart) + "-byte header");
    }
    image.bytes.assign(contents.begin() + static_cast<std::ptrdiff_t>(pixelStart),
                       contents.begin() + static_cast<std::ptrdiff_t>(pixelStart + pixelBytes));
    return image;
}

} // namespace Raytracer
