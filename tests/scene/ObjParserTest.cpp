#include "scene/ObjParser.h"

#include "math/FatalError.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;
using Indices = std::array<std::int32_t, 4>;

const std::string testdata = "../shared/testdata/obj/";

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

FilePtr openFile(const std::string& path, const char* mode) {
    return FilePtr(std::fopen(path.c_str(), mode), &std::fclose);
}

std::string readBack(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    int c = 0;
    while ((c = std::getc(stream)) != EOF) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

std::vector<std::string> fileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> result;
    for (std::string word; in >> word;) {
        result.push_back(word);
    }
    return result;
}

// Every section of a stream, as a loader pulls them, and what was printed meanwhile.
struct Parsed {
    std::vector<ObjModel> sections;
    std::string messages;
};

Parsed parseFile(const std::string& path, const std::string& materialDirectory) {
    Parsed parsed;
    const FilePtr file = openFile(path, "r");
    const FilePtr messages(std::tmpfile(), &std::fclose);
    if (!file || !messages) {
        ADD_FAILURE() << "cannot open " << path;
        return parsed;
    }
    ObjParser parser(file.get(), path, materialDirectory, messages.get());
    while (!parser.atEnd()) {
        parsed.sections.push_back(parser.readObjSection());
    }
    parsed.messages = readBack(messages.get());
    return parsed;
}

class ObjParserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("lumenbox-obj-" + std::to_string(getpid()) + "-" + info->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }

    Parsed parse(const std::string& text) {
        write("test.obj", text);
        return parseFile((dir / "test.obj").string(), dir.string() + "/");
    }

    ObjModel parseOne(const std::string& text) {
        Parsed parsed = parse(text);
        EXPECT_EQ(1u, parsed.sections.size());
        EXPECT_EQ("", parsed.messages);
        return parsed.sections.empty() ? ObjModel{} : parsed.sections.front();
    }

    fs::path dir;
};

const std::string threeVertices = "v 1 2 3\nv 4 5 6\nv 7 8 9\n";

TEST_F(ObjParserTest, TriangleOfVertexOnlyCorners) {
    const ObjModel model = parseOne(threeVertices + "f 1 2 3\n");
    ASSERT_EQ(3u, model.vertices.size());
    EXPECT_EQ(4.0, model.vertices[1].x);
    EXPECT_EQ(5.0, model.vertices[1].y);
    EXPECT_EQ(9.0, model.vertices[2].z);
    ASSERT_EQ(1u, model.faces.size());
    const ObjFace& face = model.faces[0];
    EXPECT_EQ((Indices{0, 1, 2, -1}), face.vertex);
    EXPECT_EQ((Indices{-1, -1, -1, -1}), face.normal);
    EXPECT_EQ((Indices{-1, -1, -1, -1}), face.texCoord);
    EXPECT_EQ(3, face.cornerCount);
    EXPECT_EQ(-1, face.material);
}

TEST_F(ObjParserTest, NegativeIndicesCountBackFromTheRecordsReadSoFar) {
    const ObjModel model = parseOne(threeVertices + "f -1 -2 -3\nv 0 0 0\nf -1 -2 -3 -4\n");
    ASSERT_EQ(2u, model.faces.size());
    EXPECT_EQ((Indices{2, 1, 0, -1}), model.faces[0].vertex);
    EXPECT_EQ((Indices{3, 2, 1, 0}), model.faces[1].vertex);
}

TEST_F(ObjParserTest, NegativeNormalAndTextureIndicesUseTheirOwnCounts) {
    const ObjModel model = parseOne(threeVertices + "vt 0 0\nvt 1 0\nvn 0 0 1\nvn 0 1 0\nvn 1 0 0\n" +
                                    "f -1/-1/-1 -2/-2/-3 -3//-2\n");
    ASSERT_EQ(1u, model.faces.size());
    EXPECT_EQ((Indices{2, 1, 0, -1}), model.faces[0].vertex);
    EXPECT_EQ((Indices{1, 0, -1, -1}), model.faces[0].texCoord);
    EXPECT_EQ((Indices{2, 0, 1, -1}), model.faces[0].normal);
}

TEST_F(ObjParserTest, MixedCornerForms) {
    const ObjModel model = parseOne("f 1/2/3 4//5 6/7 8\n");
    ASSERT_EQ(1u, model.faces.size());
    const ObjFace& face = model.faces[0];
    EXPECT_EQ((Indices{0, 3, 5, 7}), face.vertex);
    EXPECT_EQ((Indices{1, -1, 6, -1}), face.texCoord);
    EXPECT_EQ((Indices{2, 4, -1, -1}), face.normal);
    EXPECT_EQ(4, face.cornerCount);
}

TEST_F(ObjParserTest, EachCornerFormOnAWholeFace) {
    const ObjModel model = parseOne("f 3 2 1\nf 3/4 2/5 1/6\nf 3//7 2//8 1//9\nf 3/4/7 2/5/8 1/6/9\n");
    ASSERT_EQ(4u, model.faces.size());
    for (const ObjFace& face : model.faces) {
        EXPECT_EQ((Indices{2, 1, 0, -1}), face.vertex);
        EXPECT_EQ(3, face.cornerCount);
    }
    EXPECT_EQ((Indices{-1, -1, -1, -1}), model.faces[0].texCoord);
    EXPECT_EQ((Indices{-1, -1, -1, -1}), model.faces[0].normal);
    EXPECT_EQ((Indices{3, 4, 5, -1}), model.faces[1].texCoord);
    EXPECT_EQ((Indices{-1, -1, -1, -1}), model.faces[1].normal);
    EXPECT_EQ((Indices{-1, -1, -1, -1}), model.faces[2].texCoord);
    EXPECT_EQ((Indices{6, 7, 8, -1}), model.faces[2].normal);
    EXPECT_EQ((Indices{3, 4, 5, -1}), model.faces[3].texCoord);
    EXPECT_EQ((Indices{6, 7, 8, -1}), model.faces[3].normal);
}

TEST_F(ObjParserTest, FaceCornersBeyondTheFourthAreIgnored) {
    const ObjModel model = parseOne("f 1/1/1 2/2/2 3/3/3 4/4/4 5/5/5 6/6/6\nf\n");
    ASSERT_EQ(2u, model.faces.size());
    EXPECT_EQ((Indices{0, 1, 2, 3}), model.faces[0].vertex);
    EXPECT_EQ((Indices{0, 1, 2, 3}), model.faces[0].texCoord);
    EXPECT_EQ((Indices{0, 1, 2, 3}), model.faces[0].normal);
    EXPECT_EQ(4, model.faces[0].cornerCount);
    EXPECT_EQ((Indices{-1, -1, -1, -1}), model.faces[1].vertex);
    EXPECT_EQ(0, model.faces[1].cornerCount);
}

TEST_F(ObjParserTest, VectorLinesReadThreeNumbersAndMissingOnesAreZero) {
    const ObjModel model = parseOne("v 1.5 -2.25 3e2 7\nvn 0 0 1\nvt 0.25 0.75\nv 4\n");
    ASSERT_EQ(2u, model.vertices.size());
    EXPECT_EQ(1.5, model.vertices[0].x);
    EXPECT_EQ(-2.25, model.vertices[0].y);
    EXPECT_EQ(300.0, model.vertices[0].z);
    EXPECT_EQ(4.0, model.vertices[1].x);
    EXPECT_EQ(0.0, model.vertices[1].y);
    ASSERT_EQ(1u, model.normals.size());
    EXPECT_EQ(1.0, model.normals[0].z);
    ASSERT_EQ(1u, model.texCoords.size());
    EXPECT_EQ(0.25, model.texCoords[0].x);
    EXPECT_EQ(0.75, model.texCoords[0].y);
    EXPECT_EQ(0.0, model.texCoords[0].z);
}

TEST_F(ObjParserTest, ExtensionRecords) {
    const ObjModel model =
        parseOne(threeVertices + "vn 0 0 1\nvn 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nvt 1 1\n" +
                 "sp 1/2 2 1 0/3\npl -1 -1 -2 4/-1\nlp 2\nld 3 1\nlq 1 2 3 -1\n" + "c 1 2 2\nc 3 3 1\n");
    ASSERT_EQ(1u, model.spheres.size());
    EXPECT_EQ(0, model.spheres[0].vertex);
    EXPECT_EQ(1, model.spheres[0].normalA);
    EXPECT_EQ(0, model.spheres[0].normalB);
    EXPECT_EQ((Indices{1, -1, -1, 2}), model.spheres[0].texCoord);
    ASSERT_EQ(1u, model.planes.size());
    EXPECT_EQ(2, model.planes[0].vertex);
    EXPECT_EQ(1, model.planes[0].normalA);
    EXPECT_EQ(0, model.planes[0].normalB);
    EXPECT_EQ((Indices{-1, -1, -1, 3}), model.planes[0].texCoord);
    ASSERT_EQ(1u, model.pointLights.size());
    EXPECT_EQ(1, model.pointLights[0].vertex);
    ASSERT_EQ(1u, model.directionalLights.size());
    EXPECT_EQ(2, model.directionalLights[0].vertex);
    EXPECT_EQ(0, model.directionalLights[0].normal);
    ASSERT_EQ(1u, model.quadLights.size());
    EXPECT_EQ((Indices{0, 1, 2, 2}), model.quadLights[0].vertex);
    ASSERT_TRUE(model.camera.has_value());
    EXPECT_EQ(2, model.camera->vertexA);
    EXPECT_EQ(2, model.camera->vertexB);
    EXPECT_EQ(0, model.camera->normal);
    EXPECT_EQ(-1, model.spheres[0].material);
    EXPECT_EQ(-1, model.quadLights[0].material);
}

TEST_F(ObjParserTest, ObjectLinesCutSectionsAndPositiveIndicesStayFileWide) {
    const Parsed parsed = parse("g header\n" + threeVertices + "# object first\n" + threeVertices +
                                "f 1 2 3\n## object list\n" + threeVertices + "v 0 0 0\n" +
                                "f 10 11 12\nf -1 -2 -3\nv 1 1 1 # object inline\nv 2 2 2\n");
    ASSERT_EQ(4u, parsed.sections.size());
    EXPECT_EQ("header\n", parsed.sections[0].groupName.value_or("none"));
    EXPECT_FALSE(parsed.sections[1].groupName.has_value());
    EXPECT_EQ(3u, parsed.sections[1].vertices.size());
    ASSERT_EQ(1u, parsed.sections[1].faces.size());
    EXPECT_EQ((Indices{0, 1, 2, -1}), parsed.sections[1].faces[0].vertex);
    const ObjModel& third = parsed.sections[2];
    EXPECT_EQ(4u, third.vertices.size());
    ASSERT_EQ(2u, third.faces.size());
    EXPECT_EQ((Indices{9, 10, 11, -1}), third.faces[0].vertex);
    EXPECT_EQ((Indices{3, 2, 1, -1}), third.faces[1].vertex);
    ASSERT_EQ(1u, parsed.sections[3].vertices.size());
    EXPECT_EQ(2.0, parsed.sections[3].vertices[0].x);
}

TEST_F(ObjParserTest, ReadingPastTheLastSectionGivesAnEmptyOneAndTheEnd) {
    write("test.obj", "v 1 2 3\n# object\n");
    const FilePtr file = openFile((dir / "test.obj").string(), "r");
    ObjParser parser(file.get(), "test.obj", dir.string() + "/");
    EXPECT_FALSE(parser.atEnd());
    EXPECT_EQ(1u, parser.readObjSection().vertices.size());
    EXPECT_FALSE(parser.atEnd());
    const ObjModel empty = parser.readObjSection();
    EXPECT_TRUE(parser.atEnd());
    EXPECT_TRUE(empty.vertices.empty());
    EXPECT_TRUE(empty.faces.empty());
    EXPECT_TRUE(empty.materials.empty());
    EXPECT_FALSE(empty.groupName.has_value());
    EXPECT_FALSE(empty.materialText.has_value());
    EXPECT_FALSE(empty.camera.has_value());
}

TEST_F(ObjParserTest, UnknownCommandsArePrintedWithTheSectionLineCounter) {
    const Parsed parsed = parse("o box\n# comment\n\n   \nv 1 2 3\n  bevel on\nvv 1 2 3\n"
                                "# object\n\nfo 1 2 3\n");
    ASSERT_EQ(2u, parsed.sections.size());
    EXPECT_EQ(1u, parsed.sections[0].vertices.size());
    EXPECT_EQ("Unknown command 'o' in scene code at line 1: \"o\".\n"
              "Unknown command 'bevel' in scene code at line 6: \"  bevel\".\n"
              "Unknown command 'vv' in scene code at line 7: \"vv\".\n"
              "Unknown command 'fo' in scene code at line 2: \"fo\".\n",
              parsed.messages);
}

TEST_F(ObjParserTest, KeywordsAreWholeWordsAndSomeAreSilentlyAccepted) {
    const Parsed parsed = parse("v 1 2 3\nvnx 0 0 1\nff 1 2 3\np 1\ns off\ns 1\nusemtlx a\ng\n#v 9 9 9\n");
    ASSERT_EQ(1u, parsed.sections.size());
    const ObjModel& model = parsed.sections[0];
    EXPECT_EQ(1u, model.vertices.size());
    EXPECT_TRUE(model.normals.empty());
    EXPECT_TRUE(model.faces.empty());
    EXPECT_FALSE(model.materialText.has_value());
    EXPECT_EQ("", model.groupName.value_or("none"));
    EXPECT_EQ("Unknown command 'vnx' in scene code at line 2: \"vnx\".\n"
              "Unknown command 'ff' in scene code at line 3: \"ff\".\n"
              "Unknown command 'usemtlx' in scene code at line 7: \"usemtlx\".\n",
              parsed.messages);
}

TEST_F(ObjParserTest, UsemtlSelectsByPrefixInTheSectionsOwnLibrary) {
    write("wood.mtl", "newmtl wood2\nKd 1 0 0\nnewmtl wood\nnewmtl stone\n");
    const ObjModel model = parseOne("mtllib wood.mtl\n" + threeVertices +
                                    "f 1 2 3\nusemtl wood\nf 1 2 3\nusemtl woo\nf 1 2 3\n"
                                    "usemtl stone\nf 1 2 3\nsp 1 1 1 1\nlp 1\nld 1 1\nlq 1 2 3 1\n"
                                    "usemtl glass\nf 1 2 3\n");
    ASSERT_EQ(3u, model.materials.size());
    EXPECT_EQ("wood2", model.materials[0].name);
    EXPECT_EQ(1.0, model.materials[0].Kd[0]);
    ASSERT_EQ(5u, model.faces.size());
    EXPECT_EQ(-1, model.faces[0].material);
    EXPECT_EQ(0, model.faces[1].material);
    EXPECT_EQ(0, model.faces[2].material);
    EXPECT_EQ(2, model.faces[3].material);
    EXPECT_EQ(-1, model.faces[4].material);
    EXPECT_EQ(2, model.spheres.at(0).material);
    EXPECT_EQ(2, model.pointLights.at(0).material);
    EXPECT_EQ(2, model.directionalLights.at(0).material);
    EXPECT_EQ(2, model.quadLights.at(0).material);
    EXPECT_EQ("glass", model.materialText.value_or("none"));
}

TEST_F(ObjParserTest, MaterialTextStartsAtTheEighthCharacterWithoutLineEnd) {
    write("m.mtl", "newmtl wood\n");
    EXPECT_EQ(" wood", parseOne("mtllib m.mtl\nusemtl  wood\n").materialText.value_or("none"));
    EXPECT_EQ("wood", parseOne("usemtl\twood\r\n").materialText.value_or("none"));
    EXPECT_EQ("", parseOne("usemtl\n").materialText.value_or("none"));
    const ObjModel model = parseOne("mtllib m.mtl\nusemtl  wood\nf 1 2 3\n");
    EXPECT_EQ(0, model.faces.at(0).material);
}

TEST_F(ObjParserTest, GroupNameKeepsItsLineEndAndTheLastOneWins) {
    EXPECT_EQ("first second\n", parseOne("g first second\n").groupName.value_or("none"));
    EXPECT_EQ("tableOBJ3D\r\n", parseOne("g old\ng tableOBJ3D\r\n").groupName.value_or("none"));
    EXPECT_EQ("last", parseOne("g last").groupName.value_or("none"));
}

TEST_F(ObjParserTest, MissingLibraryIsOneFatalLine) {
    try {
        parse("mtllib absent.mtl\nv 1 2 3\n");
        FAIL() << "no error for a missing library";
    } catch (const FatalError& error) {
        EXPECT_STREQ("Error reading file: absent.mtl", error.what());
    }
}

TEST_F(ObjParserTest, LongLinesAreReadWhole) {
    const std::string comment = "#" + std::string(1500, '-') + " v 9 9 9\n";
    const std::string spaced = "v 1" + std::string(700, ' ') + "2 3\n";
    const std::string group(400, 'g');
    const std::string material(300, 'm');
    write("long.mtl", "newmtl " + material + "\n");
    const ObjModel model = parseOne(comment + spaced + "g " + group + "\n" + "mtllib long.mtl\nusemtl " +
                                    material + "\nf 1 1 1\n");
    ASSERT_EQ(1u, model.vertices.size());
    EXPECT_EQ(2.0, model.vertices[0].y);
    EXPECT_EQ(3.0, model.vertices[0].z);
    EXPECT_EQ(group + "\n", model.groupName.value_or("none"));
    EXPECT_EQ(material, model.materialText.value_or("none"));
    EXPECT_EQ(0, model.faces.at(0).material);
}

TEST_F(ObjParserTest, ManyRecordsKeepTheirOrder) {
    std::string text;
    for (int i = 1; i <= 1000; ++i) {
        text += "v " + std::to_string(i) + " 0 0\n";
    }
    for (int i = 1; i <= 998; ++i) {
        text += "f " + std::to_string(i) + " " + std::to_string(i + 1) + " " + std::to_string(i + 2) + "\n";
    }
    const ObjModel model = parseOne(text);
    ASSERT_EQ(1000u, model.vertices.size());
    ASSERT_EQ(998u, model.faces.size());
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(i + 1.0, model.vertices[i].x);
    }
    for (int i = 0; i < 998; ++i) {
        EXPECT_EQ((Indices{i, i + 1, i + 2, -1}), model.faces[i].vertex);
    }
}

TEST_F(ObjParserTest, CrLfFileReadsLikeItsLfTwin) {
    write("m.mtl", "newmtl dark\r\nnewmtl wood\r\n");
    const std::string lf = "mtllib m.mtl\ng thing\n" + threeVertices +
                           "vn 0 0 1\nvt 0 0\nusemtl wood\nf 1/1/1 2/1/1 -1/-1/-1\no x\n";
    std::string crlf;
    for (char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    const Parsed fromLf = parse(lf);
    const Parsed fromCrLf = parse(crlf);
    ASSERT_EQ(1u, fromLf.sections.size());
    ASSERT_EQ(1u, fromCrLf.sections.size());
    const ObjModel& a = fromLf.sections[0];
    const ObjModel& b = fromCrLf.sections[0];
    EXPECT_EQ(a.vertices.size(), b.vertices.size());
    ASSERT_EQ(1u, b.faces.size());
    EXPECT_EQ(a.faces[0].vertex, b.faces[0].vertex);
    EXPECT_EQ(a.faces[0].normal, b.faces[0].normal);
    EXPECT_EQ(a.faces[0].texCoord, b.faces[0].texCoord);
    EXPECT_EQ(1, b.faces[0].material);
    EXPECT_EQ("wood", b.materialText.value_or("none"));
    EXPECT_EQ(a.materialText, b.materialText);
    EXPECT_EQ(1, findMaterialByEnding(b.materials, *b.materialText));
    EXPECT_EQ("thing\r\n", b.groupName.value_or("none"));
    EXPECT_EQ(fromLf.messages, fromCrLf.messages);
}

TEST_F(ObjParserTest, WholeFileGivesEveryObjectTheHeaderMaterials) {
    write("m.mtl", "newmtl a\nnewmtl b\n");
    write("test.obj", "mtllib m.mtl\n# object\ng oneOBJ3D\nv 0 0 0\n# object\ng twoBBox\n# object\n");
    const FilePtr file = openFile((dir / "test.obj").string(), "r");
    const ObjFile parsed = ObjParser(file.get(), "test.obj", dir.string() + "/").readObjFile();
    EXPECT_EQ(2u, parsed.header.materials.size());
    ASSERT_EQ(3u, parsed.objects.size());
    EXPECT_EQ("oneOBJ3D\n", parsed.objects[0].groupName.value_or("none"));
    EXPECT_EQ(1u, parsed.objects[0].vertices.size());
    EXPECT_EQ("twoBBox\n", parsed.objects[1].groupName.value_or("none"));
    EXPECT_FALSE(parsed.objects[2].groupName.has_value());
    for (const ObjModel& object : parsed.objects) {
        ASSERT_EQ(2u, object.materials.size());
        EXPECT_EQ("b", object.materials[1].name);
    }
}

std::string objectSections(int count) {
    std::string text = "g header\n";
    for (int i = 0; i < count; ++i) {
        text += "# object\ng part" + std::to_string(i) + "\n";
    }
    return text;
}

TEST_F(ObjParserTest, AHundredObjectsAreRead) {
    write("test.obj", objectSections(ObjParser::maxObjectSections));
    const FilePtr file = openFile((dir / "test.obj").string(), "r");
    const ObjFile parsed = ObjParser(file.get(), "test.obj", dir.string() + "/").readObjFile();
    ASSERT_EQ(100u, parsed.objects.size());
    EXPECT_EQ("part99\n", parsed.objects.back().groupName.value_or("none"));
}

TEST_F(ObjParserTest, MoreThanAHundredObjectsAreOneFatalLineNamingFileAndLine) {
    write("test.obj", objectSections(ObjParser::maxObjectSections + 1));
    const FilePtr file = openFile((dir / "test.obj").string(), "r");
    ObjParser parser(file.get(), "scene.obj", dir.string() + "/");
    try {
        parser.readObjFile();
        FAIL() << "101 objects accepted";
    } catch (const FatalError& error) {
        const std::string line = error.what();
        EXPECT_EQ(std::string::npos, line.find('\n')) << line;
        EXPECT_NE(std::string::npos, line.find("scene.obj")) << line;
        // The header is line 1 and every object takes two lines, so the 101st "# object" is line 202.
        EXPECT_NE(std::string::npos, line.find("line 202")) << line;
        EXPECT_NE(std::string::npos, line.find("100")) << line;
    }
}

// Reference counts taken straight from a fixture's lines.
struct LineCounts {
    std::size_t vertices = 0, normals = 0, texCoords = 0, faces = 0;
};

LineCounts countLines(const std::string& path) {
    LineCounts counts;
    for (const std::string& line : fileLines(path)) {
        const auto w = words(line);
        if (w.empty()) {
            continue;
        }
        counts.vertices += w[0] == "v";
        counts.normals += w[0] == "vn";
        counts.texCoords += w[0] == "vt";
        counts.faces += w[0] == "f";
    }
    return counts;
}

TEST(ObjParserRealFiles, CornellBoxWithQuadsAndNegativeIndices) {
    const std::string path = testdata + "cornell_box.obj";
    const Parsed parsed = parseFile(path, testdata);
    ASSERT_EQ(1u, parsed.sections.size());
    const ObjModel& model = parsed.sections[0];
    const LineCounts counts = countLines(path);
    EXPECT_EQ(76u, counts.vertices);
    EXPECT_EQ(counts.vertices, model.vertices.size());
    ASSERT_EQ(18u, model.faces.size());
    ASSERT_EQ(5u, model.materials.size());

    // Expected faces and messages, worked out from the file's own lines.
    const std::vector<std::string> names = {"white", "red", "green", "blue", "light"};
    std::string expectedMessages;
    std::int32_t verticesSoFar = 0;
    std::int32_t material = -1;
    std::size_t face = 0;
    const auto lines = fileLines(path);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto w = words(lines[i]);
        if (w.empty()) {
            continue;
        }
        if (w[0] == "v") {
            ++verticesSoFar;
        } else if (w[0] == "o") {
            expectedMessages +=
                "Unknown command 'o' in scene code at line " + std::to_string(i + 1) + ": \"o\".\n";
        } else if (w[0] == "usemtl") {
            material = static_cast<std::int32_t>(std::find(names.begin(), names.end(), w[1]) - names.begin());
        } else if (w[0] == "f") {
            ASSERT_EQ(5u, w.size());
            ASSERT_LT(face, model.faces.size());
            for (std::size_t k = 0; k < 4; ++k) {
                const int n = std::atoi(w[k + 1].c_str());
                EXPECT_EQ(n > 0 ? n - 1 : n + verticesSoFar, model.faces[face].vertex[k]) << lines[i];
            }
            EXPECT_EQ(4, model.faces[face].cornerCount);
            EXPECT_EQ(material, model.faces[face].material) << lines[i];
            ++face;
        }
    }
    EXPECT_EQ(model.faces.size(), face);
    EXPECT_EQ(expectedMessages, parsed.messages);
    EXPECT_EQ(9, std::count(parsed.messages.begin(), parsed.messages.end(), '\n'));
    EXPECT_EQ((Indices{0, 1, 2, 3}), model.faces[0].vertex);
    EXPECT_EQ((Indices{12, 13, 14, 15}), model.faces[3].vertex);
}

TEST(ObjParserRealFiles, SmoothingGroupsAndIndentedLibrary) {
    const Parsed parsed = parseFile(testdata + "issue-162-smoothing-group.obj", testdata);
    ASSERT_EQ(1u, parsed.sections.size());
    EXPECT_EQ("", parsed.messages);
    const ObjModel& model = parsed.sections[0];
    EXPECT_EQ(8u, model.vertices.size());
    EXPECT_EQ(4u, model.texCoords.size());
    EXPECT_EQ(6u, model.normals.size());
    ASSERT_EQ(12u, model.faces.size());
    ASSERT_EQ(2u, model.materials.size());
    EXPECT_EQ((Indices{0, 1, 2, -1}), model.faces[0].vertex);
    EXPECT_EQ((Indices{0, 1, 2, -1}), model.faces[0].texCoord);
    EXPECT_EQ((Indices{0, 0, 0, -1}), model.faces[0].normal);
    EXPECT_EQ(0, model.faces[0].material);
    EXPECT_EQ(0, model.faces[1].material);
    for (std::size_t i = 2; i < model.faces.size(); ++i) {
        EXPECT_EQ(1, model.faces[i].material);
    }
    EXPECT_EQ("test2\n", model.groupName.value_or("none"));
    EXPECT_EQ("test2", model.materialText.value_or("none"));
    EXPECT_EQ(1, findMaterialByEnding(model.materials, *model.materialText));
}

TEST(ObjParserRealFiles, CrLfFileNamingAMissingLibraryIsRefusedInOneLine) {
    try {
        parseFile(testdata + "cube_mtllib_after_g.obj", testdata);
        FAIL() << "the missing .mat library was not reported";
    } catch (const FatalError& error) {
        EXPECT_STREQ("Error reading file: cube_mtllib_after_g.mat", error.what());
    }
}

TEST(ObjParserRealFiles, SpiderModel) {
    const std::string path = testdata + "spider.obj";
    const Parsed parsed = parseFile(path, testdata);
    ASSERT_EQ(1u, parsed.sections.size());
    EXPECT_EQ("", parsed.messages);
    const ObjModel& model = parsed.sections[0];
    const LineCounts counts = countLines(path);
    EXPECT_EQ(762u, model.vertices.size());
    EXPECT_EQ(302u, model.texCoords.size());
    EXPECT_EQ(747u, model.normals.size());
    ASSERT_EQ(1368u, model.faces.size());
    EXPECT_EQ(counts.vertices, model.vertices.size());
    EXPECT_EQ(counts.texCoords, model.texCoords.size());
    EXPECT_EQ(counts.normals, model.normals.size());
    EXPECT_EQ(counts.faces, model.faces.size());
    ASSERT_EQ(5u, model.materials.size());
    for (const ObjFace& face : model.faces) {
        EXPECT_EQ(3, face.cornerCount);
        EXPECT_GE(face.material, 0);
        for (int k = 0; k < 3; ++k) {
            EXPECT_GE(face.vertex[k], 0);
            EXPECT_LT(face.vertex[k], 762);
            EXPECT_GE(face.texCoord[k], 0);
            EXPECT_LT(face.texCoord[k], 302);
            EXPECT_GE(face.normal[k], 0);
            EXPECT_LT(face.normal[k], 747);
        }
        EXPECT_EQ(-1, face.vertex[3]);
    }
    ASSERT_TRUE(model.materialText.has_value());
    EXPECT_GE(findMaterialByEnding(model.materials, *model.materialText), 0);
}

} // namespace
} // namespace Raytracer
