#include "scene/ObjParser.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

namespace Raytracer {
namespace {

using Indices = std::array<std::int32_t, 4>;
using Triple = std::array<double, 3>;
constexpr Indices none{-1, -1, -1, -1};

// Where parse puts the library.
std::string libraryDirectory() {
    return ::testing::TempDir() + "lumenbox-obj-" + std::to_string(::getpid()) + "/";
}

// A whole OBJ text as the loaders read a file; "mtllib lib.mtl" reads the given library text.
ObjFile parse(std::string text, const std::string& library = "") {
    const std::string directory = libraryDirectory();
    std::filesystem::create_directories(directory);
    std::ofstream(directory + "lib.mtl", std::ios::binary) << library;
    std::FILE* file = fmemopen(text.data(), text.size(), "r");
    ObjFile parsed = ObjParser(file, "test.obj", directory).readObjFile();
    std::fclose(file);
    std::filesystem::remove_all(directory);
    return parsed;
}

TEST(ObjParser, CornerTokensGiveZeroBasedIndicesOrAbsent) {
    struct Row {
        const char* face;
        Indices vertex, texCoord, normal;
        int corners;
    };
    const Row rows[] = {
        {"f 3/4 2/5 1/6", {2, 1, 0, -1}, {3, 4, 5, -1}, none, 3},
        {"f 3//7 2//8 1//9", {2, 1, 0, -1}, none, {6, 7, 8, -1}, 3},
        {"f 1/2/3 4//5 6/7 8", {0, 3, 5, 7}, {1, -1, 6, -1}, {2, 4, -1, -1}, 4},
        {"f 1 2 3 4 5 6", {0, 1, 2, 3}, none, none, 4},  // corners past the fourth are dropped
        {"f 0 1/0 2//0", {-1, 0, 1, -1}, none, none, 3}, // 0 means absent
        // Negative indices count back through what the section has read: 3 positions, 2 texture
        // coordinates, 3 normals.
        {"f -1/-1/-1 -2/-2/-3 -3//-2", {2, 1, 0, -1}, {1, 0, -1, -1}, {2, 0, 1, -1}, 3},
        {"f", none, none, none, 0},
    };
    for (const Row& row : rows) {
        const ObjModel header =
            parse(std::string("v 1 2 3\nv 4 5 6\nv 7 8 9\nvt 0 0\nvt 1 0\nvn 0 0 1\nvn 0 1 0\nvn 1 0 0\n") +
                  row.face + "\n")
                .header;
        ASSERT_EQ(1u, header.faces.size()) << row.face;
        const ObjFace& face = header.faces[0];
        EXPECT_EQ(std::tuple(row.vertex, row.texCoord, row.normal, row.corners),
                  std::tuple(face.vertex, face.texCoord, face.normal, face.cornerCount))
            << row.face;
    }
}

TEST(ObjParser, ObjectLinesCutSectionsThatShareTheHeadersMtlLibrary) {
    std::filesystem::create_directories(libraryDirectory() + "maps");
    std::ofstream(libraryDirectory() + "maps/mask.tga");
    std::ofstream(libraryDirectory() + "other.mtl") << "newmtl other\n";
    // The last library named wins; the last line of either file may lack its newline.
    const ObjFile file = parse(
        "mtllib other.mtl\nmtllib lib.mtl\nv 1.5 -2.25 3e2 7\n# object first\ng old\ng tableOBJ3D\r\nv 4\n"
        "f 2 -1 1\nusemtl  wood\r\n## object list\nmtllib other.mtl\nv 2 2 2 # object inline\nv 3 3 3",
        "Ns 50\n# Kd 0 0 0\n  newmtl first\r\n\tKd 0.1 0.2\nNsx 40\nnewmtl\tsecond one\n"
        "Ks 0.5 0.25 0.125\nNs 30\nd 0.6\nmap_Ka meshes/floor.tga \r\nmap_refl\tmaps/mask.tga\r\nNi 1.33");
    ASSERT_EQ(1u, file.header.vertices.size());
    const ObjVector& v = file.header.vertices[0]; // three numbers read, the fourth ignored
    EXPECT_EQ(std::tuple(1.5, -2.25, 300.0), std::tuple(v.x, v.y, v.z));
    ASSERT_EQ(3u, file.objects.size()); // a line holding "# object" belongs to no section
    const ObjModel& table = file.objects[0];
    EXPECT_EQ("tableOBJ3D\r\n", table.groupName.value_or("none")); // the last one, line end kept
    EXPECT_EQ(std::tuple(4.0, 0.0), std::tuple(table.vertices.at(0).x, table.vertices[0].z));
    ASSERT_EQ(1u, table.faces.size()); // positive indices count through the file, negative ones the section
    EXPECT_EQ((Indices{1, 0, 0, -1}), table.faces[0].vertex);
    EXPECT_EQ(" wood", table.materialText.value_or("none")) << "from the eighth character, no line end";
    EXPECT_EQ(2u, table.materials.size());
    EXPECT_TRUE(file.objects[1].vertices.empty() && !file.objects[1].groupName);
    EXPECT_EQ(3.0, file.objects[2].vertices.at(0).x);
    // Each MTL keyword sets the latest material; lines before the first newmtl count for none.
    const MtlMaterial& a = file.header.materials.at(0);
    EXPECT_EQ(
        std::tuple("first", Triple{0.1, 0.2, 0.0}, Triple{0.2, 0.2, 0.2}, Triple{1, 1, 1}, 0.0, 1.0, 1.0),
        std::tuple(a.name, a.Kd, a.Ka, a.Ks, a.Ns, a.d, a.Ni));
    // A texture name is a path from the working directory (the project root); one that names no file
    // there is a path from the library's directory (the shipped names are found by their file names
    // alone, as the headless test's copied scene shows).
    const MtlMaterial& b = file.header.materials.at(1);
    EXPECT_EQ(std::tuple("second", Triple{0.5, 0.25, 0.125}, 30.0, 0.6, 1.33, std::string("meshes/floor.tga"),
                         libraryDirectory() + "maps/mask.tga"),
              std::tuple(b.name, b.Ks, b.Ns, b.d, b.Ni, b.mapKa, b.mapRefl));
}

} // namespace
} // namespace Raytracer
