#include "tools/scenegen/SceneWriter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

// lumenbox-scenegen OUTPUT_DIR [--bumpy-sphere TRIANGLES]: writes every file of meshes/ into OUTPUT_DIR,
// with the option a stage copy holding one more renderable object of about TRIANGLES triangles.
int main(int argc, char** argv) {
    int extraTriangles = 0;
    if (argc == 4 && std::strcmp(argv[2], "--bumpy-sphere") == 0) {
        char* end = nullptr;
        const long count = std::strtol(argv[3], &end, 10);
        extraTriangles = *end == '\0' && count > 0 && count <= 100000000 ? static_cast<int>(count) : -1;
    }
    if ((argc != 2 && argc != 4) || argv[1][0] == '\0' || extraTriangles < 0 || (argc == 4 && extraTriangles == 0)) {
        std::fprintf(stderr, "usage: lumenbox-scenegen OUTPUT_DIR [--bumpy-sphere TRIANGLES]\n");
        return 2;
    }
    // A missing folder is created; one that cannot be shows up as the first file that cannot be written.
    std::error_code ignored;
    std::filesystem::create_directories(argv[1], ignored);
    try {
        Raytracer::Scenegen::writeScene(argv[1], extraTriangles);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumenbox-scenegen: %s\n", error.what());
        return 1;
    }
    return 0;
}
