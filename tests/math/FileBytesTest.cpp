#include "math/FileBytes.h"

#include "math/FatalError.h"
#include "scene/LineReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace Raytracer {
namespace {

// Names that lead to devices: reading must end with one line instead of filling memory.
TEST(FileBytes, AnEndlessDeviceIsRefused) {
    try {
        readFileBytes("/dev/zero");
        FAIL() << "read /dev/zero to its end";
    } catch (const FatalError& error) {
        EXPECT_STREQ("Error reading file /dev/zero: larger than 256 MiB", error.what());
    }
    EXPECT_THROW(readFileBytes("/nonexistent/file.tga"), FatalError);
}

TEST(LineReader, ALineWithoutEndIsNotText) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> zero(std::fopen("/dev/zero", "r"), &std::fclose);
    ASSERT_TRUE(zero);
    LineReader reader(zero.get(), "/dev/zero");
    std::string line;
    try {
        reader.readLine(line);
        FAIL() << "read a line from /dev/zero";
    } catch (const FatalError& error) {
        EXPECT_STREQ("/dev/zero, line 1: longer than 1048576 characters; not a text file", error.what());
    }
}

} // namespace
} // namespace Raytracer
