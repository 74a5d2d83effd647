#include "render/AtomicFile.h"

#include "math/FatalError.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;

// A folder in the way of the picture, from the start or made while it is written, is one line, and the
// temporary file goes.
TEST(AtomicFile, AFolderInTheWayFailsInOneLine) {
    const fs::path folder = fs::temp_directory_path() / ("lumenbox-atomic-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "early.png");
    const std::string early = (folder / "early.png").string();
    const std::string late = (folder / "late.png").string();
    EXPECT_THROW(
        try { AtomicFile file(early); } catch (const FatalError& error) {
            EXPECT_EQ("Error writing file " + early + ": Is a directory", std::string(error.what()));
            throw;
        },
        FatalError);
    {
        AtomicFile file(late);
        std::fputs("picture", file.stream());
        fs::create_directory(late);
        EXPECT_THROW(
            try { file.commit(); } catch (const FatalError& error) {
                EXPECT_EQ("Error writing file " + late + ": Is a directory", std::string(error.what()));
                throw;
            },
            FatalError);
    }
    EXPECT_EQ(2, std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    EXPECT_TRUE(fs::is_empty(late));
    fs::remove_all(folder);
}

} // namespace
} // namespace Raytracer
