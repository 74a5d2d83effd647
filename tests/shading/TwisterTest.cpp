#include "shading/Twister.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace Raytracer {
namespace {

constexpr std::uint64_t wordModulus = 1ull << 32;
constexpr int tableSize = 65536;
constexpr int middle = 397;

// A plain model of the generator, kept apart from the implementation: 64-bit arithmetic reduced by an
// explicit modulus, and one regeneration loop with wrapped indices instead of three loops.
struct ReferenceTwister {
    std::vector<std::uint64_t> table = std::vector<std::uint64_t>(tableSize);
    int next = tableSize;

    explicit ReferenceTwister(std::uint64_t seed) {
        table[0] = seed;
        for (int i = 1; i < tableSize; ++i) {
            table[i] = (table[i - 1] * 69069u) % wordModulus;
        }
        std::uint64_t v = 373737u;
        for (int i = 1; i < tableSize; ++i) {
            table[i] = table[i] ^ v;
            const std::uint64_t t = (v * 5531u + 81547u) % wordModulus;
            v = (t ^ ((t << 19) % wordModulus) ^ (t >> 9)) % wordModulus;
        }
    }

    void regenerate() {
        for (int k = 0; k < tableSize; ++k) {
            const std::uint64_t y = (table[k] & 0x80000000u) | (table[(k + 1) % tableSize] & 0x7FFFFFFFu);
            std::uint64_t word = table[(k + middle) % tableSize] ^ (y / 2);
            if (y % 2 == 1) {
                word ^= 0x9908B0DFu;
            }
            table[k] = word;
        }
        next = 0;
    }

    static std::uint64_t temper(std::uint64_t y) {
        y = y ^ (y >> 11);
        y = y ^ (((y << 7) % wordModulus) & 0x9D2C5680u);
        y = y ^ (((y << 15) % wordModulus) & 0xEFC60000u);
        y = y ^ (y >> 18);
        return y;
    }

    static float unit(std::uint64_t word) {
        return static_cast<float>(static_cast<double>(word) / 4294967296.0);
    }

    std::uint32_t draw() {
        if (next >= tableSize) {
            regenerate();
        }
        return static_cast<std::uint32_t>(temper(table[next++]));
    }
};

// Finds the word that tempers to target: each tempering step is x ^ f(x) with f moving bits strictly
// one way, so iterating x = y ^ f(x) reaches the unique solution within 32 rounds.
std::uint32_t untemper(std::uint32_t y) {
    std::uint32_t x = y;
    for (int i = 0; i < 32; ++i) {
        x = y ^ (x >> 18);
    }
    y = x;
    for (int i = 0; i < 32; ++i) {
        x = y ^ ((x << 15) & 0xEFC60000u);
    }
    y = x;
    for (int i = 0; i < 32; ++i) {
        x = y ^ ((x << 7) & 0x9D2C5680u);
    }
    y = x;
    for (int i = 0; i < 32; ++i) {
        x = y ^ (x >> 11);
    }
    return x;
}

void fillTable(Twister& twister, std::uint32_t word) {
    for (int i = 0; i < tableSize; ++i) {
        twister.state[i] = word;
    }
}

TEST(Twister, SeedingGivesTheHandComputedFirstWords) {
    Twister twister(0u);
    twister.setSeed(4067493906u);
    EXPECT_EQ(4067493906u, twister.state[0]);
    EXPECT_EQ(3925595011u, twister.state[1]);
    EXPECT_EQ(65536, twister.index);
}

TEST(Twister, SeedingFillsTheWholeTableLikeTheReference) {
    for (const std::uint32_t seed : {4067493906u, 0u, 1u, 0xFFFFFFFFu}) {
        Twister twister(seed);
        const ReferenceTwister reference(seed);
        for (int i = 0; i < tableSize; ++i) {
            ASSERT_EQ(reference.table[i], twister.state[i]) << "seed " << seed << " word " << i;
        }
    }
}

TEST(Twister, DefaultSeedIsTheWorkerSeed) {
    Twister twister;
    EXPECT_EQ(4067493906u, twister.state[0]);
}

TEST(Twister, TemperingMatchesAHandComputedWord) {
    // 0x80000000 -> ^>>11: 0x80100000 -> ^(<<7 & mask): 0x88100000 -> <<15 drops out -> ^>>18: 0x88102204.
    EXPECT_EQ(0x88102204u, Twister::temper(0x80000000u));
    EXPECT_EQ(0u, Twister::temper(0u));
}

TEST(Twister, FirstDrawsAfterSeedingMatchTheReference) {
    Twister twister(4067493906u);
    ReferenceTwister reference(4067493906u);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(reference.draw(), twister.nextUint()) << "draw " << i;
    }
    EXPECT_EQ(2000, twister.index);
}

TEST(Twister, RegenerationBoundary) {
    Twister twister(4067493906u);
    ReferenceTwister reference(4067493906u);
    reference.regenerate();
    const std::vector<std::uint64_t> firstTable = reference.table;
    reference.regenerate();
    const std::vector<std::uint64_t>& secondTable = reference.table;

    for (int i = 0; i < tableSize - 1; ++i) {
        twister.nextUint();
    }
    EXPECT_EQ(tableSize - 1, twister.index);
    // Draw 65536 is the last word of the first table.
    EXPECT_EQ(ReferenceTwister::temper(firstTable[tableSize - 1]), twister.nextUint());
    EXPECT_EQ(tableSize, twister.index);
    for (int i = 0; i < tableSize; ++i) {
        ASSERT_EQ(firstTable[i], twister.state[i]) << "word " << i << " changed before draw 65537";
    }
    // Draw 65537 regenerates and hands out the first word of the second table.
    EXPECT_EQ(ReferenceTwister::temper(secondTable[0]), twister.nextUint());
    EXPECT_EQ(1, twister.index);
    for (int i = 0; i < tableSize; ++i) {
        ASSERT_EQ(secondTable[i], twister.state[i]) << "word " << i;
    }
    EXPECT_EQ(ReferenceTwister::temper(secondTable[1]), twister.nextUint());
}

TEST(Twister, RegenerationWrapsAroundOntoRenewedWords) {
    // Only word 793 is set. The first loop copies it into word 396 (396 + 397 = 793), and its low bits,
    // paired with word 792, make word 792 = 0x12345678 >> 1. The last word must read word 396 renewed.
    Twister twister(0u);
    fillTable(twister, 0u);
    twister.state[793] = 0x12345678u;
    twister.index = tableSize;

    EXPECT_EQ(0u, twister.nextUint());
    for (int i = 0; i < tableSize; ++i) {
        std::uint32_t expected = 0u;
        if (i == 396 || i == tableSize - 1) {
            expected = 0x12345678u;
        } else if (i == 792) {
            expected = 0x091A2B3Cu;
        }
        ASSERT_EQ(expected, twister.state[i]) << "word " << i;
    }
}

TEST(Twister, RegenerationAppliesTheTwistMatrixForOddWords) {
    // Word 0: y = 0x80000000 | 1 is odd, so word 0 = 0 ^ (y >> 1) ^ 0x9908B0DF = 0xD908B0DF.
    Twister twister(0u);
    fillTable(twister, 0u);
    twister.state[0] = 0x80000000u;
    twister.state[1] = 1u;
    twister.index = tableSize;
    EXPECT_EQ(Twister::temper(0xD908B0DFu), twister.nextUint());
    EXPECT_EQ(0xD908B0DFu, twister.state[0]);
}

TEST(Twister, NextFloatStaysInTheUnitIntervalAndMatchesTheWords) {
    Twister twister(4067493906u);
    ReferenceTwister reference(4067493906u);
    for (int i = 0; i < 3 * tableSize; ++i) {
        const float value = twister.nextFloat();
        ASSERT_GE(value, 0.0f) << "draw " << i;
        ASSERT_LE(value, 1.0f) << "draw " << i;
        ASSERT_EQ(ReferenceTwister::unit(reference.draw()), value) << "draw " << i;
    }
}

TEST(Twister, NextFloatReachesBothEnds) {
    ASSERT_EQ(0xFFFFFF80u, Twister::temper(untemper(0xFFFFFF80u)));
    ASSERT_EQ(0xFFFFFF7Fu, Twister::temper(untemper(0xFFFFFF7Fu)));

    Twister twister(0u);
    twister.index = 0;
    twister.state[0] = untemper(0u);
    twister.state[1] = untemper(0xFFFFFF80u);
    twister.state[2] = untemper(0xFFFFFF7Fu);
    twister.state[3] = untemper(0xFFFFFFFFu);
    EXPECT_EQ(0.0f, twister.nextFloat());
    EXPECT_EQ(1.0f, twister.nextFloat());
    // 2^32 - 129 rounds down to 2^32 - 256, the largest float below 2^32.
    EXPECT_EQ(1.0f - 1.0f / 16777216.0f, twister.nextFloat());
    EXPECT_EQ(1.0f, twister.nextFloat());
}

TEST(Twister, SamplePairReadsTheTableWithoutAdvancing) {
    Twister twister(4067493906u);
    Twister twin(4067493906u);
    const ReferenceTwister reference(4067493906u);
    const auto expectPair = [&](std::uint32_t seed, int first, int second) {
        float a = -1.0f;
        float b = -1.0f;
        twister.samplePair(seed, a, b);
        EXPECT_EQ(ReferenceTwister::unit(ReferenceTwister::temper(reference.table[first])), a) << seed;
        EXPECT_EQ(ReferenceTwister::unit(ReferenceTwister::temper(reference.table[second])), b) << seed;
    };
    // Before the first draw it reads the words as seeding left them.
    expectPair(0u, 0, 1);
    expectPair(0x00010001u, 0, 1);
    expectPair(0x0000FFFFu, 65535, 0);
    expectPair(0xFFFF0000u, 65535, 0);
    expectPair(0x12345678u, 0x5678 ^ 0x1234, (0x5678 ^ 0x1234) + 1);
    EXPECT_EQ(65536, twister.index);

    for (int i = 0; i < 10; ++i) {
        twister.nextUint();
        twin.nextUint();
    }
    float a1 = 0.0f;
    float b1 = 0.0f;
    float a2 = 0.0f;
    float b2 = 0.0f;
    twister.samplePair(0xCAFEBABEu, a1, b1);
    twister.samplePair(0xCAFEBABEu, a2, b2);
    EXPECT_EQ(a1, a2);
    EXPECT_EQ(b1, b2);
    EXPECT_EQ(10, twister.index);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(twin.nextUint(), twister.nextUint());
    }
}

TEST(Twister, SamplePairFollowsTheRegeneratedTable) {
    Twister twister(4067493906u);
    ReferenceTwister reference(4067493906u);
    reference.regenerate();
    twister.nextUint();
    float a = 0.0f;
    float b = 0.0f;
    twister.samplePair(0x0000FFFFu, a, b);
    EXPECT_EQ(ReferenceTwister::unit(ReferenceTwister::temper(reference.table[65535])), a);
    EXPECT_EQ(ReferenceTwister::unit(ReferenceTwister::temper(reference.table[0])), b);
}

TEST(Twister, SameSeedGivesTheSameSequence) {
    Twister first(123456789u);
    Twister second(123456789u);
    for (int i = 0; i < 2 * tableSize + 100; ++i) {
        ASSERT_EQ(first.nextUint(), second.nextUint()) << "draw " << i;
    }
    Twister other(123456790u);
    Twister again(123456789u);
    int differences = 0;
    for (int i = 0; i < 100; ++i) {
        if (other.nextUint() != again.nextUint()) {
            ++differences;
        }
    }
    EXPECT_GT(differences, 90);
}

TEST(Twister, ReseedingRestartsTheSequence) {
    Twister twister(42u);
    std::vector<std::uint32_t> firstRun;
    for (int i = 0; i < 1000; ++i) {
        firstRun.push_back(twister.nextUint());
    }
    twister.setSeed(42u);
    EXPECT_EQ(65536, twister.index);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(firstRun[i], twister.nextUint()) << "draw " << i;
    }
}

TEST(Twister, WorksThroughTheAbstractBase) {
    Twister twister(7u);
    Twister twin(7u);
    RandomGenerator& generator = twister;
    EXPECT_EQ(twin.nextUint(), generator.nextUint());
    EXPECT_EQ(twin.nextFloat(), generator.nextFloat());
    generator.setSeed(8u);
    EXPECT_EQ(8u, twister.state[0]);
}

} // namespace
} // namespace Raytracer
