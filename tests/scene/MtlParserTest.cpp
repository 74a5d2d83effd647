#include "scene/MtlParser.h"

#include "math/FatalError.h"
#include "scene/MtlMaterial.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace Raytracer {
namespace {

namespace fs = std::filesystem;

const std::string testdata = "../shared/testdata/obj/";

// A private directory for the MTL files one test writes; removed with the test.
class MtlParserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("lumenbox-mtl-" + std::to_string(getpid()) + "-" + info->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<MtlMaterial> load(const std::string& text) {
        std::ofstream(dir / "test.mtl", std::ios::binary) << text;
        return MtlParser(dir.string() + "/").loadMtl("test.mtl");
    }

    fs::path dir;
};

TEST_F(MtlParserTest, NewmtlAloneGivesTheDefaults) {
    const auto materials = load("newmtl plain\n");
    ASSERT_EQ(1u, materials.size());
    const MtlMaterial& m = materials[0];
    EXPECT_EQ("plain", m.name);
    EXPECT_EQ((std::array<double, 3>{0.2, 0.2, 0.2}), m.Ka);
    EXPECT_EQ((std::array<double, 3>{0.8, 0.8, 0.8}), m.Kd);
    EXPECT_EQ((std::array<double, 3>{1.0, 1.0, 1.0}), m.Ks);
    EXPECT_EQ(0.0, m.r);
    EXPECT_EQ(1.0, m.d);
    EXPECT_EQ(0.0, m.Ns);
    EXPECT_EQ(0.0, m.sharpness);
    EXPECT_EQ(1.0, m.Ni);
    EXPECT_EQ("", m.mapKa);
    EXPECT_EQ("", m.mapRefl);
}

TEST_F(MtlParserTest, EveryKeywordSetsItsValueOnTheLatestMaterial) {
    const auto materials = load("newmtl first\n"
                                "Kd 0.1 0.2 0.3\n"
                                "newmtl second\n"
                                "Ka 0.5 0.25 0.125\n"
                                "Kd 1 0.5 0\n"
                                "Ks 0.75 0.5 0.25\n"
                                "Ns 30\n"
                                "d 0.6\n"
                                "r 0.4\n"
                                "sharpness 60\n"
                                "Ni 1.33\n"
                                "illum 2\n"
                                "map_Ka wall.tga\n"
                                "map_refl wall_mask.tga\n");
    ASSERT_EQ(2u, materials.size());
    EXPECT_EQ("first", materials[0].name);
    EXPECT_EQ((std::array<double, 3>{0.1, 0.2, 0.3}), materials[0].Kd);
    EXPECT_EQ((std::array<double, 3>{0.2, 0.2, 0.2}), materials[0].Ka);
    const MtlMaterial& m = materials[1];
    EXPECT_EQ("second", m.name);
    EXPECT_EQ((std::array<double, 3>{0.5, 0.25, 0.125}), m.Ka);
    EXPECT_EQ((std::array<double, 3>{1.0, 0.5, 0.0}), m.Kd);
    EXPECT_EQ((std::array<double, 3>{0.75, 0.5, 0.25}), m.Ks);
    EXPECT_EQ(30.0, m.Ns);
    EXPECT_EQ(0.6, m.d);
    EXPECT_EQ(0.4, m.r);
    EXPECT_EQ(60.0, m.sharpness);
    EXPECT_EQ(1.33, m.Ni);
    EXPECT_EQ("wall.tga", m.mapKa);
    EXPECT_EQ("wall_mask.tga", m.mapRefl);
}

TEST_F(MtlParserTest, ValuesBeforeTheFirstNewmtlAreIgnored) {
    const auto materials = load("Ka 9 9 9\nNs 50\nmap_Ka early.tga\nnewmtl late\n");
    ASSERT_EQ(1u, materials.size());
    EXPECT_EQ((std::array<double, 3>{0.2, 0.2, 0.2}), materials[0].Ka);
    EXPECT_EQ(0.0, materials[0].Ns);
    EXPECT_EQ("", materials[0].mapKa);
    EXPECT_TRUE(load("Kd 1 1 1\n# nothing here\n").empty());
}

TEST_F(MtlParserTest, CommentsUnknownKeywordsAndBlankLinesAreSkipped) {
    const auto materials = load("# a comment\n"
                                "// another\n"
                                "\n"
                                "   \t \n"
                                "newmtl m\n"
                                "Ke 5 5 5\n"
                                "Tf 1 1 1\n"
                                "map_Kd colour.jpg\n"
                                "# Kd 0 0 0\n"
                                "// Ns 99\n");
    ASSERT_EQ(1u, materials.size());
    EXPECT_EQ((std::array<double, 3>{0.8, 0.8, 0.8}), materials[0].Kd);
    EXPECT_EQ(0.0, materials[0].Ns);
    EXPECT_EQ("", materials[0].mapKa);
}

TEST_F(MtlParserTest, KeywordsAreWholeWordsAndMayBeIndented) {
    const auto materials = load("  newmtl m\n\tKd 0.5 0.5 0.5\n  Nsx 40\n  Ns 20\n  dd 0.1\n");
    ASSERT_EQ(1u, materials.size());
    EXPECT_EQ((std::array<double, 3>{0.5, 0.5, 0.5}), materials[0].Kd);
    EXPECT_EQ(20.0, materials[0].Ns);
    EXPECT_EQ(1.0, materials[0].d);
}

TEST_F(MtlParserTest, MissingNumbersReadAsZero) {
    const auto materials = load("newmtl m\nKd 0.5\nNs\n");
    ASSERT_EQ(1u, materials.size());
    EXPECT_EQ((std::array<double, 3>{0.5, 0.0, 0.0}), materials[0].Kd);
    EXPECT_EQ(0.0, materials[0].Ns);
}

TEST_F(MtlParserTest, MapNamesKeepTheirLastCharacterWhateverEndsTheLine) {
    EXPECT_EQ("tex.ppm", load("newmtl m\nmap_Ka tex.ppm\n")[0].mapKa);
    EXPECT_EQ("tex.ppm", load("newmtl m\nmap_Ka tex.ppm")[0].mapKa);
    EXPECT_EQ("tex.ppm", load("newmtl m\nmap_Ka tex.ppm \n")[0].mapKa);
    EXPECT_EQ("tex.ppm", load("newmtl m\r\nmap_Ka tex.ppm\r\n")[0].mapKa);
    EXPECT_EQ("tex.ppm", load("newmtl m\nmap_Ka\ttex.ppm\tnext\n")[0].mapKa);
    EXPECT_EQ("mask.tga", load("newmtl m\nmap_refl mask.tga\n")[0].mapRefl);
    EXPECT_EQ("mask.tga", load("newmtl m\nmap_refl mask.tga")[0].mapRefl);
    EXPECT_EQ("mask.tga", load("newmtl m\r\nmap_refl mask.tga\r\n")[0].mapRefl);
    EXPECT_EQ("", load("newmtl m\nmap_Ka\n")[0].mapKa);
    EXPECT_EQ("", load("newmtl m\nmap_refl   \n")[0].mapRefl);
}

TEST_F(MtlParserTest, NamesHoldNoLineEnds) {
    const auto materials =
        load("newmtl lf\nnewmtl crlf\r\nnewmtl spaced \nnewmtl\tpair of words\nnewmtl last");
    ASSERT_EQ(5u, materials.size());
    EXPECT_EQ("lf", materials[0].name);
    EXPECT_EQ("crlf", materials[1].name);
    EXPECT_EQ("spaced", materials[2].name);
    EXPECT_EQ("pair", materials[3].name);
    EXPECT_EQ("last", materials[4].name);
    EXPECT_EQ("", load("newmtl\n")[0].name);
}

TEST_F(MtlParserTest, CrLfFileReadsLikeItsLfTwin) {
    const std::string lf = "newmtl a\nKa 0.1 0.2 0.3\nNs 12\nmap_Ka a.tga\nnewmtl b\nd 0.5\nmap_refl b.tga\n";
    std::string crlf;
    for (char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    const auto fromLf = load(lf);
    const auto fromCrLf = load(crlf);
    ASSERT_EQ(2u, fromLf.size());
    ASSERT_EQ(fromLf.size(), fromCrLf.size());
    for (std::size_t i = 0; i < fromLf.size(); ++i) {
        EXPECT_EQ(fromLf[i].name, fromCrLf[i].name);
        EXPECT_EQ(fromLf[i].mapKa, fromCrLf[i].mapKa);
        EXPECT_EQ(fromLf[i].mapRefl, fromCrLf[i].mapRefl);
        EXPECT_EQ(fromLf[i].Ka, fromCrLf[i].Ka);
        EXPECT_EQ(fromLf[i].Ns, fromCrLf[i].Ns);
        EXPECT_EQ(fromLf[i].d, fromCrLf[i].d);
    }
    EXPECT_EQ("a.tga", fromCrLf[0].mapKa);
    EXPECT_EQ("b.tga", fromCrLf[1].mapRefl);
}

TEST_F(MtlParserTest, LongLinesAndManyMaterialsAreReadWhole) {
    const std::string longName(700, 'n');
    const std::string longMap(900, 'm');
    std::string text = "newmtl " + longName + "\nmap_Ka " + longMap + ".tga\n";
    text += "#" + std::string(1200, 'x') + " Kd 0 0 0\n";
    for (int i = 0; i < 250; ++i) {
        const std::string number = std::to_string(i);
        text += "newmtl m";
        text += number + "\nNs " + number + "\n";
    }
    const auto materials = load(text);
    ASSERT_EQ(251u, materials.size());
    EXPECT_EQ(longName, materials[0].name);
    EXPECT_EQ(longMap + ".tga", materials[0].mapKa);
    EXPECT_EQ((std::array<double, 3>{0.8, 0.8, 0.8}), materials[0].Kd);
    for (int i = 0; i < 250; ++i) {
        EXPECT_EQ(std::string("m").append(std::to_string(i)), materials[i + 1].name);
        EXPECT_EQ(static_cast<double>(i), materials[i + 1].Ns);
    }
}

TEST_F(MtlParserTest, MissingFileIsOneFatalLineWithTheBareName) {
    try {
        MtlParser(dir.string() + "/").loadMtl("absent.mtl");
        FAIL() << "no error for a missing library";
    } catch (const FatalError& error) {
        EXPECT_STREQ("Error reading file: absent.mtl", error.what());
        EXPECT_EQ(FatalError::Stream::standardError, error.stream());
    }
}

TEST(MtlMaterialLookup, PrefixLookupTakesTheFirstNameStartingWithTheQuery) {
    std::vector<MtlMaterial> materials(3);
    materials[0].name = "wood2";
    materials[1].name = "wood";
    materials[2].name = "stone";
    EXPECT_EQ(0, findMaterialByPrefix(materials, "wood"));
    EXPECT_EQ(0, findMaterialByPrefix(materials, "woo"));
    EXPECT_EQ(2, findMaterialByPrefix(materials, "stone"));
    EXPECT_EQ(-1, findMaterialByPrefix(materials, "stones"));
    EXPECT_EQ(-1, findMaterialByPrefix(materials, "ood"));
    EXPECT_EQ(-1, findMaterialByPrefix({}, "wood"));
}

TEST(MtlMaterialLookup, EndingLookupTakesTheFirstNameEndingWithTheText) {
    std::vector<MtlMaterial> materials(4);
    materials[0].name = "wood2";
    materials[1].name = "darkwood";
    materials[2].name = "wood";
    materials[3].name = "stone";
    EXPECT_EQ(1, findMaterialByEnding(materials, "wood"));
    EXPECT_EQ(1, findMaterialByEnding(materials, "kwood"));
    EXPECT_EQ(0, findMaterialByEnding(materials, "wood2"));
    EXPECT_EQ(3, findMaterialByEnding(materials, "stone"));
    EXPECT_EQ(-1, findMaterialByEnding(materials, "woo"));
    EXPECT_EQ(-1, findMaterialByEnding({}, "wood"));
}

TEST_F(MtlParserTest, CrLfNamesMatchLfTextsByEnding) {
    const auto materials = load("newmtl darkwood\r\nnewmtl wood\r\n");
    EXPECT_EQ(0, findMaterialByEnding(materials, "wood"));
    EXPECT_EQ(1, findMaterialByPrefix(materials, "wood"));
}

TEST(MtlParserRealFiles, CornellBoxLibrary) {
    const auto materials = MtlParser(testdata).loadMtl("cornell_box.mtl");
    ASSERT_EQ(5u, materials.size());
    const char* names[] = {"white", "red", "green", "blue", "light"};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(names[i], materials[i].name);
        EXPECT_EQ((std::array<double, 3>{0.0, 0.0, 0.0}), materials[i].Ks);
    }
    EXPECT_EQ((std::array<double, 3>{1.0, 0.0, 0.0}), materials[1].Kd);
    EXPECT_EQ((std::array<double, 3>{0.0, 0.0, 1.0}), materials[3].Kd);
    EXPECT_EQ((std::array<double, 3>{20.0, 20.0, 20.0}), materials[4].Ka);
    EXPECT_EQ(1.0, materials[4].Ni);
}

TEST(MtlParserRealFiles, IndentedKeywordsAndAnIndentedNewmtl) {
    const auto materials = MtlParser(testdata).loadMtl("issue-162-smoothing-group.mtl");
    ASSERT_EQ(2u, materials.size());
    EXPECT_EQ("test1", materials[0].name);
    EXPECT_EQ("test2", materials[1].name);
    EXPECT_EQ(10.0, materials[0].Ns);
    EXPECT_EQ(1.5, materials[0].Ni);
    EXPECT_EQ(1.0, materials[0].d);
    EXPECT_EQ((std::array<double, 3>{0.0, 0.0, 0.0}), materials[0].Ka);
    EXPECT_EQ((std::array<double, 3>{0.5, 0.2, 0.2}), materials[0].Kd);
    EXPECT_EQ((std::array<double, 3>{0.2, 0.5, 0.2}), materials[1].Kd);
    EXPECT_EQ((std::array<double, 3>{0.0, 0.0, 0.0}), materials[1].Ks);
}

TEST(MtlParserRealFiles, CrLfLibrary) {
    const auto materials = MtlParser(testdata).loadMtl("cube_mtllib_after_g.mtl");
    ASSERT_EQ(1u, materials.size());
    EXPECT_EQ("MyMaterial", materials[0].name);
    EXPECT_EQ((std::array<double, 3>{1.0, 1.0, 1.0}), materials[0].Ka);
    EXPECT_EQ(200.0, materials[0].Ns);
    EXPECT_EQ((std::array<double, 3>{0.05, 0.05, 0.05}), materials[0].Ks);
}

TEST(MtlParserRealFiles, LibraryWithoutFinalNewline) {
    const auto materials = MtlParser(testdata).loadMtl("spider.mtl");
    ASSERT_EQ(5u, materials.size());
    const char* names[] = {"Skin", "Brusttex", "HLeibTex", "BeinTex", "Augentex"};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(names[i], materials[i].name);
        EXPECT_EQ("", materials[i].mapKa);
    }
    EXPECT_EQ((std::array<double, 3>{0.827451, 0.792157, 0.772549}), materials[0].Kd);
    EXPECT_EQ((std::array<double, 3>{0.8, 0.8, 0.8}), materials[4].Kd);
}

} // namespace
} // namespace Raytracer
