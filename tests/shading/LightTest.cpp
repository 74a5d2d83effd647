#include "shading/AreaLight.h"
#include "shading/PointLight.h"
#include "shading/SphereLight.h"
#include "shading/Twister.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace Raytracer {
namespace {

// Hands out a fixed pair and records the seed; any advancing call is a fault.
class FixedPairGenerator final : public RandomGenerator {
  public:
    FixedPairGenerator(float a_, float b_) : a(a_), b(b_) {}

    void setSeed(std::uint32_t) override { ADD_FAILURE() << "setSeed called"; }
    void samplePair(std::uint32_t seed, float& outA, float& outB) const override {
        seeds.push_back(seed);
        outA = a;
        outB = b;
    }
    float nextFloat() override {
        ADD_FAILURE() << "nextFloat called";
        return 0.0f;
    }
    std::uint32_t nextUint() override {
        ADD_FAILURE() << "nextUint called";
        return 0u;
    }

    float a;
    float b;
    mutable std::vector<std::uint32_t> seeds;
};

std::vector<std::uint32_t> someSeeds() {
    std::vector<std::uint32_t> seeds = {0u, 1u, 0xFFFFu, 0x10000u, 0x00010001u, 0xFFFFFFFFu};
    for (std::uint32_t s = 12345u; seeds.size() < 2000; s = s * 1103515245u + 12345u) {
        seeds.push_back(s);
    }
    return seeds;
}

TEST(Light, ConstructorsSetTheSamplingType) {
    const PointLight point({1, 2, 3}, {0.5f, 0.5f, 0.5f});
    const AreaLight area({0, 5, 0}, {1, 1, 1}, {2, 0, 0}, {0, 0, 2});
    const SphereLight sphere({4, 5, 6}, {1, 0, 0}, 1.5f);
    EXPECT_EQ(Light::pointSampling, point.type);
    EXPECT_EQ(Light::areaSampling, area.type);
    EXPECT_EQ(Light::sphereSampling, sphere.type);
    EXPECT_EQ(Vector3(2, 0, 0), area.edgeU);
    EXPECT_EQ(Vector3(0, 0, 2), area.edgeV);
    EXPECT_EQ(1.5f, sphere.radius);
    EXPECT_EQ(Color(1, 0, 0), sphere.color);
}

TEST(Light, PointAndSphereLightsReturnTheirPositionForEverySeed) {
    Twister twister;
    twister.nextUint();
    PointLight point({1.5f, -2.0f, 3.25f}, {1, 1, 1});
    SphereLight sphere({-4.0f, 0.5f, 7.0f}, {1, 1, 1}, 3.0f);
    Light& pointBase = point;
    Light& sphereBase = sphere;
    for (std::uint32_t seed : someSeeds()) {
        std::uint32_t word = seed;
        ASSERT_EQ(point.position, pointBase.samplePoint(twister, word));
        ASSERT_EQ(sphere.position, sphereBase.samplePoint(twister, word));
        ASSERT_EQ(seed, word);
    }
    EXPECT_EQ(1, twister.index);
}

TEST(Light, AreaLightCombinesTheEdgesInOrder) {
    FixedPairGenerator generator(0.5f, 0.25f);
    AreaLight area({1, 2, 3}, {1, 1, 1}, {4, 0, -2}, {0, 8, 4});
    Light& light = area;
    std::uint32_t seed = 0xABCD1234u;
    // (1 + 0.5*4 + 0.25*0, 2 + 0.5*0 + 0.25*8, 3 + 0.5*-2 + 0.25*4)
    EXPECT_EQ(Vector3(3, 4, 3), light.samplePoint(generator, seed));
    ASSERT_EQ(1u, generator.seeds.size());
    EXPECT_EQ(0xABCD1234u, generator.seeds[0]);
    EXPECT_EQ(0xABCD1234u, seed);

    FixedPairGenerator corner(0.0f, 0.0f);
    EXPECT_EQ(area.position, light.samplePoint(corner, seed));
    FixedPairGenerator farCorner(1.0f, 1.0f);
    EXPECT_EQ(Vector3(5, 10, 5), light.samplePoint(farCorner, seed));
}

TEST(Light, AreaLightPointsStayOnTheSquare) {
    Twister twister;
    AreaLight area({0, 5, 0}, {1, 1, 1}, {2, 0, 0}, {0, 0, 2});
    float minX = 2.0f;
    float maxX = 0.0f;
    for (int round = 0; round < 2; ++round) {
        for (std::uint32_t seed : someSeeds()) {
            std::uint32_t word = seed;
            const Vector3 p = area.samplePoint(twister, word);
            ASSERT_EQ(5.0f, p.y) << seed;
            ASSERT_GE(p.x, 0.0f) << seed;
            ASSERT_LE(p.x, 2.0f) << seed;
            ASSERT_GE(p.z, 0.0f) << seed;
            ASSERT_LE(p.z, 2.0f) << seed;
            float a = 0.0f;
            float b = 0.0f;
            twister.samplePair(seed, a, b);
            ASSERT_EQ(a * 2.0f, p.x) << seed;
            ASSERT_EQ(b * 2.0f, p.z) << seed;
            minX = p.x < minX ? p.x : minX;
            maxX = p.x > maxX ? p.x : maxX;
        }
        twister.nextFloat();
    }
    // The points spread over the square rather than collapsing onto a corner.
    EXPECT_LT(minX, 0.1f);
    EXPECT_GT(maxX, 1.9f);
}

TEST(Light, AreaLightRepeatsAPointWhileTheTableIsUnchanged) {
    Twister twister;
    for (int i = 0; i < 5; ++i) {
        twister.nextUint();
    }
    AreaLight area({-1, 3, 2}, {1, 1, 1}, {1.5f, 0.5f, 0}, {0, 0.25f, -3});
    int moved = 0;
    for (std::uint32_t seed : someSeeds()) {
        std::uint32_t first = seed;
        std::uint32_t second = seed;
        const Vector3 p = area.samplePoint(twister, first);
        ASSERT_EQ(p, area.samplePoint(twister, second)) << seed;
        if (!(p == area.samplePoint(twister, ++second))) {
            ++moved;
        }
    }
    EXPECT_EQ(5, twister.index);
    EXPECT_GT(moved, 1900);
}

} // namespace
} // namespace Raytracer
