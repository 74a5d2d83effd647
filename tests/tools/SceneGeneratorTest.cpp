#include "tools/scenegen/SceneWriter.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;

// Name to bytes, for every file of a folder.
std::map<std::string, std::string> folderBytes(const fs::path& directory) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        std::ifstream file(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(file), {});
    }
    return files;
}

// The committed meshes/ is the generator's output byte for byte, so a fault in any of its writers, or
// an edit to either side alone, shows here. The reference pictures and the loader tests read meshes/.
TEST(SceneGenerator, RegeneratesTheCommittedMeshesExactly) {
    const fs::path directory =
        fs::temp_directory_path() / ("lumenbox-scenegen-" + std::to_string(::getpid()));
    fs::remove_all(directory);
    fs::create_directories(directory);
    Scenegen::writeScene(directory.string());
    const std::map<std::string, std::string> generated = folderBytes(directory);
    const std::map<std::string, std::string> committed = folderBytes("meshes");
    fs::remove_all(directory);
    for (const auto& [name, bytes] : generated) {
        EXPECT_TRUE(committed.count(name) == 1 && committed.at(name) == bytes)
            << "meshes/" << name << " is not what lumenbox-scenegen writes; run lumenbox-scenegen meshes";
    }
    EXPECT_EQ(generated.size(), committed.size()) << "meshes/ holds files the generator does not write";
}

} // namespace
} // namespace Raytracer
