#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>

namespace Raytracer::Fuzz {

// The readers take paths, so inputs are written to files first. Each process gets a directory of its
// own so that fuzzers running side by side never read each other's half-written input.
// Memory-backed when the machine has /dev/shm: a file rewritten on a disk for every input costs more
// than most inputs take to read.
inline std::string makeScratchDirectory() {
    std::error_code error;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string pattern = (base / "lumenbox-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("lumenbox fuzz: mkdtemp");
        std::abort();
    }
    return pattern;
}

inline const std::string& scratchDirectory();

inline void removeScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchDirectory(), ignored);
}

inline const std::string& scratchDirectory() {
    static const std::string directory = makeScratchDirectory();
    // Registered after the path is built, so the path outlives the clean-up at exit.
    static const bool removedAtExit = std::atexit(removeScratchDirectory) == 0;
    (void)removedAtExit;
    return directory;
}

// A failed write would turn every later input into a test of a stale file, so it stops the run.
inline void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(("lumenbox fuzz: writing " + path).c_str());
        std::abort();
    }
}

// Where readers' chatter goes, so that the fuzzer's own output stays readable.
inline std::FILE* nullDevice() {
    static std::FILE* const device = std::fopen("/dev/null", "w");
    if (device == nullptr) {
        std::perror("lumenbox fuzz: /dev/null");
        std::abort();
    }
    return device;
}

} // namespace Raytracer::Fuzz
