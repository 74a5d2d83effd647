#include "tools/scenegen/SceneWriter.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

// lumenbox-scenegen OUTPUT_DIR: writes every file of meshes/ into OUTPUT_DIR.
int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: lumenbox-scenegen OUTPUT_DIR\n");
        return 2;
    }
    // A missing folder is created; one that cannot be shows up as the first file that cannot be written.
    std::error_code ignored;
    std::filesystem::create_directories(argv[1], ignored);
    try {
        Raytracer::Scenegen::writeScene(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumenbox-scenegen: %s\n", error.what());
        return 1;
    }
    return 0;
}
