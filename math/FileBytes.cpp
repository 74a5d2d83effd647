#include "math/FileBytes.h"

#include "math/FatalError.h"

#include <cstdio>
#include <memory>

namespace Raytracer {

std::vector<std::uint8_t> readFileBytes(const std::string& path) {
    const std::string cannotRead = "Error reading file: " + path;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        throw FatalError(cannotRead);
    }
    // Read to the end rather than trusting a seek: a directory opens on Linux, reports a huge size
    // and then fails to read.
    std::vector<std::uint8_t> contents;
    std::uint8_t chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        contents.insert(contents.end(), chunk, chunk + got);
        if (contents.size() > maxFileBytes) {
            throw FatalError("Error reading file " + path + ": larger than " +
                             std::to_string(maxFileBytes >> 20) + " MiB");
        }
    }
    if (std::ferror(file.get())) {
        throw FatalError(cannotRead);
    }
    return contents;
}

} // namespace Raytracer
