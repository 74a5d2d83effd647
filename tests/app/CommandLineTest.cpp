#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace Raytracer {
namespace {

CommandLine parse(std::vector<const char*> args, bool headless = false) {
    args.insert(args.begin(), "lumenbox");
    return parseCommandLine(static_cast<int>(args.size()), args.data(), headless);
}

TEST(CommandLine, NoArgumentsGiveTheDefaults) {
    const CommandLine c = parse({});
    ASSERT_EQ(CommandLine::Outcome::run, c.outcome);
    EXPECT_EQ(512, c.startup.imageSize);
    EXPECT_EQ(16, c.startup.bucketSize);
    EXPECT_EQ(16, c.startup.startAreaLightSubdivisions);
    EXPECT_EQ(6, c.startup.startTraceDepth);
    EXPECT_EQ(8, c.startup.startReflectionSamples);
    EXPECT_FALSE(c.startup.startWithAreaLight);
    EXPECT_FALSE(c.startup.startWithAntiAliasing);
}

TEST(CommandLine, EightPositionalArgumentsFirstIgnored) {
    const CommandLine c = parse({"whatever", "256", "32", "4", "50", "2", "1", "1"});
    ASSERT_EQ(CommandLine::Outcome::run, c.outcome);
    EXPECT_EQ(256, c.startup.imageSize);
    EXPECT_EQ(32, c.startup.bucketSize);
    EXPECT_EQ(4, c.startup.startAreaLightSubdivisions);
    EXPECT_EQ(50, c.startup.startTraceDepth); // not clamped to the keys' limit
    EXPECT_EQ(2, c.startup.startReflectionSamples);
    EXPECT_TRUE(c.startup.startWithAreaLight);
    EXPECT_TRUE(c.startup.startWithAntiAliasing);

    // Only exactly 1 switches the area light and anti-aliasing on.
    const CommandLine two = parse({"x", "256", "16", "16", "6", "8", "2", "01x"});
    EXPECT_FALSE(two.startup.startWithAreaLight);
    EXPECT_TRUE(two.startup.startWithAntiAliasing); // "01x" reads as 1
}

TEST(CommandLine, MissingTrailingArgumentsKeepTheirDefaults) {
    const CommandLine c = parse({"x", "128"});
    EXPECT_EQ(128, c.startup.imageSize);
    EXPECT_EQ(16, c.startup.bucketSize);
    EXPECT_EQ(8, c.startup.startReflectionSamples);
}

TEST(CommandLine, NumbersAreReadAsAtoiReadsThem) {
    EXPECT_EQ(0, parseLeadingInt("abc"));
    EXPECT_EQ(12, parseLeadingInt("12abc"));
    EXPECT_EQ(-7, parseLeadingInt("  -7"));
    EXPECT_EQ(5, parseLeadingInt("+5.9"));
    EXPECT_EQ(INT_MAX, parseLeadingInt("99999999999999999999"));
    EXPECT_EQ(INT_MIN, parseLeadingInt("-99999999999999999999"));
    // Non-numeric settings are 0, not an error.
    EXPECT_EQ(0, parse({"x", "64", "16", "abc"}).startup.startAreaLightSubdivisions);
}

TEST(CommandLine, SizesThatCannotRenderAreRefused) {
    for (const auto& args : std::vector<std::vector<const char*>>{{"x", "0"},
                                                                  {"x", "-5"},
                                                                  {"x", "abc"},
                                                                  {"x", "64", "0"},
                                                                  {"x", "64", "-16"},
                                                                  {"x", "100000"},
                                                                  {"x", "4096", "1"}}) {
        const CommandLine c = parse(args);
        EXPECT_EQ(CommandLine::Outcome::error, c.outcome) << args[1];
        EXPECT_FALSE(c.error.empty());
        EXPECT_EQ(std::string::npos, c.error.find('\n'));
    }
    EXPECT_EQ(CommandLine::Outcome::error, parse({"1", "2", "3", "4", "5", "6", "7", "8", "9"}).outcome);
}

TEST(CommandLine, HelpAndOptions) {
    EXPECT_EQ(CommandLine::Outcome::help, parse({"--help"}).outcome);
    EXPECT_EQ(CommandLine::Outcome::help, parse({"x", "64", "--help"}, true).outcome);
    // The viewer takes no other option.
    EXPECT_EQ(CommandLine::Outcome::error, parse({"--frames", "3"}).outcome);

    const CommandLine c =
        parse({"--frames", "3", "x", "--keys", "oj+", "64", "--stats", "--out=f.png", "4"}, true);
    ASSERT_EQ(CommandLine::Outcome::run, c.outcome) << c.error;
    EXPECT_EQ(3, c.headless.frames);
    EXPECT_EQ("oj+", c.headless.keys);
    EXPECT_EQ("f.png", c.headless.out);
    EXPECT_TRUE(c.headless.stats);
    // Options are taken out before the positional arguments are counted.
    EXPECT_EQ(64, c.startup.imageSize);
    EXPECT_EQ(4, c.startup.bucketSize);

    for (const auto& bad : std::vector<std::vector<const char*>>{{"--frames"},
                                                                 {"--frames", "0"},
                                                                 {"--frames", "2x"},
                                                                 {"--frames=-1"},
                                                                 {"--out"},
                                                                 {"--out="},
                                                                 {"--keys"},
                                                                 {"--bogus"}}) {
        EXPECT_EQ(CommandLine::Outcome::error, parse(bad, true).outcome) << bad[0];
    }
    EXPECT_EQ(CommandLine::Outcome::run, parse({"--keys", ""}, true).outcome);
}

TEST(CommandLine, UsageNamesEveryArgument) {
    const std::string usage = usageText("lumenbox-render", true);
    for (const char* word : {"size", "bucket", "depth", "--frames", "--keys", "--out", "--stats", "--help"}) {
        EXPECT_NE(std::string::npos, usage.find(word)) << word;
    }
    EXPECT_EQ(std::string::npos, usageText("lumenbox", false).find("--frames"));
}

} // namespace
} // namespace Raytracer
