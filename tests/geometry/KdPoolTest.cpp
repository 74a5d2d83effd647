#include "geometry/KdPool.h"

#include "math/FatalError.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Raytracer {
namespace {

// Links the elements into one list in the given order and returns its head.
KdListElement* chain(const std::vector<KdListElement*>& elements) {
    for (std::size_t i = 0; i < elements.size(); ++i)
        elements[i]->next = i + 1 < elements.size() ? elements[i + 1] : nullptr;
    return elements.empty() ? nullptr : elements.front();
}

std::vector<KdListElement*> take(KdPool& pool, int count) {
    std::vector<KdListElement*> taken;
    for (int i = 0; i < count; ++i)
        taken.push_back(pool.takeElement());
    return taken;
}

void expectOneLine(const FatalError& error, int capacity) {
    const std::string line = error.what();
    EXPECT_FALSE(line.empty());
    EXPECT_EQ(std::string::npos, line.find('\n')) << line;
    EXPECT_NE(std::string::npos, line.find(std::to_string(capacity))) << line;
}

TEST(KdPool, ElementsComeInAddressOrderAndNoneHasReferenceZero) {
    KdPool pool(64);
    EXPECT_EQ(nullptr, pool.element(0u));
    EXPECT_EQ(0u, pool.reference(static_cast<const KdListElement*>(nullptr)));

    const std::vector<KdListElement*> elements = take(pool, 10);
    EXPECT_EQ(10, pool.taken);
    const std::uint32_t first = pool.reference(elements.front());
    EXPECT_NE(0u, first);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        EXPECT_EQ(first + i, pool.reference(elements[i]));
        EXPECT_EQ(elements[i], pool.element(pool.reference(elements[i])));
    }
    EXPECT_EQ(static_cast<int>(pool.reference(elements.back())) + 1, pool.elementHighWater());
}

TEST(KdPool, PairsAreAdjacentFreshLeaves) {
    KdPool pool(64);
    const int before = pool.nodesInUse();
    KdNode* pair = pool.takePair();
    EXPECT_EQ(before + 2, pool.nodesInUse());
    EXPECT_NE(0u, pool.reference(pair));
    EXPECT_EQ(pair, pool.node(pool.reference(pair)));
    EXPECT_EQ(pair + 1, pool.node(pool.reference(pair) + 1));
    for (const KdNode* node : {pair, pair + 1}) {
        EXPECT_EQ(KdNode::freshLeaf, node->link);
        EXPECT_TRUE(node->isLeaf());
        EXPECT_EQ(0u, node->reference());
    }
    KdNode* next = pool.takePair();
    EXPECT_EQ(pool.reference(pair) + 2, pool.reference(next));
}

TEST(KdPool, GivenBackListIsTakenAgainFromItsHead) {
    KdPool pool(64);
    const std::vector<KdListElement*> elements = take(pool, 6);
    const int highWater = pool.elementHighWater();
    pool.giveBack(chain({elements[4], elements[1], elements[2]}));
    EXPECT_EQ(elements[4], pool.takeElement());
    EXPECT_EQ(elements[1], pool.takeElement());
    EXPECT_EQ(elements[2], pool.takeElement());
    EXPECT_EQ(highWater, pool.elementHighWater());
    EXPECT_EQ(static_cast<std::uint32_t>(highWater), pool.reference(pool.takeElement()));

    pool.giveBack(nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(highWater + 1), pool.reference(pool.takeElement()));
}

TEST(KdPool, FirstResetAfterSetBaseFreesNothing) {
    KdPool pool(64);
    const std::vector<KdListElement*> loadTime = take(pool, 5);
    chain(loadTime);
    pool.setMark();
    EXPECT_EQ(5, pool.mark);
    const int highWater = pool.elementHighWater();

    pool.setBase();
    pool.reset();
    EXPECT_EQ(0, pool.taken);
    KdListElement* first = pool.takeElement();
    EXPECT_EQ(static_cast<std::uint32_t>(highWater), pool.reference(first));
    for (std::size_t i = 0; i + 1 < loadTime.size(); ++i)
        EXPECT_EQ(loadTime[i + 1], loadTime[i]->next);
}

TEST(KdPool, SetBaseLeavesElementsGivenBackEarlierBehind) {
    KdPool pool(64);
    const std::vector<KdListElement*> loadTime = take(pool, 10);
    const int highWater = pool.elementHighWater();
    pool.giveBack(chain({loadTime[3], loadTime[4], loadTime[5]}));
    EXPECT_EQ(loadTime[3], pool.freeElements);

    pool.setBase();
    EXPECT_EQ(pool.element(static_cast<std::uint32_t>(highWater)), pool.base);
    EXPECT_EQ(pool.base, pool.freeElements);
    for (int i = 0; i < 20; ++i) {
        const KdListElement* element = pool.takeElement();
        EXPECT_EQ(static_cast<std::uint32_t>(highWater + i), pool.reference(element));
    }
}

TEST(KdPool, ResetFreesEverythingTakenSinceBaseAndNothingBefore) {
    KdPool pool(128);
    const std::vector<KdListElement*> loadTime = take(pool, 7);
    chain(loadTime);
    pool.setBase();
    const std::uint32_t base = pool.reference(pool.base);

    // One frame: take, give a list back, take again, as a build does.
    std::vector<KdListElement*> frame = take(pool, 30);
    pool.giveBack(chain({frame[10], frame[2], frame[25]}));
    take(pool, 12);
    const int highWater = pool.elementHighWater();
    EXPECT_GT(highWater, static_cast<int>(base));

    pool.reset();
    EXPECT_EQ(0, pool.taken);
    EXPECT_EQ(pool.base, pool.freeElements);
    for (int i = static_cast<int>(base); i < highWater + 5; ++i)
        EXPECT_EQ(static_cast<std::uint32_t>(i), pool.reference(pool.takeElement()));
    for (std::size_t i = 0; i + 1 < loadTime.size(); ++i)
        EXPECT_EQ(loadTime[i + 1], loadTime[i]->next);
    EXPECT_EQ(nullptr, loadTime.back()->next);
}

TEST(KdPool, ResetRewindsNodePairsToBaseAsFreshLeaves) {
    KdPool pool(64);
    pool.takePair();
    pool.takePair();
    pool.setBase();
    const int atBase = pool.nodesInUse();

    KdNode* first = pool.takePair();
    first[0].link = 3;
    first[0].split = 1.5f;
    first[1].link = (7u << KdNode::referenceShift) | KdNode::leafFlag;
    pool.takePair();
    EXPECT_EQ(atBase + 4, pool.nodesInUse());

    pool.reset();
    EXPECT_EQ(atBase, pool.nodesInUse());
    KdNode* again = pool.takePair();
    EXPECT_EQ(first, again);
    EXPECT_EQ(KdNode::freshLeaf, again[0].link);
    EXPECT_EQ(0.0f, again[0].split);
    EXPECT_EQ(KdNode::freshLeaf, again[1].link);
}

TEST(KdPool, ManyFramesRunInConstantSpace) {
    // Each frame takes more than a tenth of the storage, so anything not given back runs it dry.
    constexpr int capacity = 256;
    KdPool pool(capacity);
    take(pool, 20);
    pool.takePair();
    pool.setBase();
    int highWater = -1;
    int nodes = -1;
    for (int frame = 0; frame < 5000; ++frame) {
        pool.reset();
        std::vector<KdListElement*> elements = take(pool, 60);
        pool.giveBack(chain({elements[0], elements[1]}));
        take(pool, 40);
        for (int i = 0; i < 30; ++i)
            pool.takePair();
        if (frame == 0) {
            highWater = pool.elementHighWater();
            nodes = pool.nodesInUse();
        }
        ASSERT_EQ(highWater, pool.elementHighWater()) << "frame " << frame;
        ASSERT_EQ(nodes, pool.nodesInUse()) << "frame " << frame;
    }
}

TEST(KdPool, RunningOutOfElementsThrowsOneLine) {
    constexpr int capacity = 37;
    KdPool pool(capacity);
    int count = 0;
    try {
        for (;;) {
            pool.takeElement();
            ++count;
            ASSERT_LE(count, capacity);
        }
    } catch (const FatalError& error) {
        expectOneLine(error, capacity);
    }
    EXPECT_GT(count, capacity - 8);
    EXPECT_EQ(count, pool.taken);
    EXPECT_EQ(nullptr, pool.freeElements);
    EXPECT_LE(pool.elementHighWater(), capacity);

    // Still usable: an element given back can be taken again.
    KdListElement* last = pool.element(static_cast<std::uint32_t>(pool.elementHighWater() - 1));
    last->next = nullptr;
    pool.giveBack(last);
    EXPECT_EQ(last, pool.takeElement());
    EXPECT_THROW(pool.takeElement(), FatalError);
}

TEST(KdPool, RunningOutOfNodesThrowsOneLine) {
    constexpr int capacity = 37;
    KdPool pool(capacity);
    int pairs = 0;
    try {
        for (;;) {
            KdNode* pair = pool.takePair();
            ASSERT_LT(static_cast<int>(pool.reference(pair)) + 1, capacity);
            ++pairs;
            ASSERT_LE(pairs, capacity);
        }
    } catch (const FatalError& error) {
        expectOneLine(error, capacity);
    }
    EXPECT_GT(pairs, capacity / 2 - 4);
    EXPECT_LE(pool.nodesInUse(), capacity);
    EXPECT_THROW(pool.takePair(), FatalError);
}

TEST(KdPool, SetBaseOnAFullPoolLeavesNothingToTake) {
    constexpr int capacity = 16;
    KdPool pool(capacity);
    EXPECT_THROW(take(pool, capacity), FatalError);
    pool.setBase();
    EXPECT_EQ(nullptr, pool.base);
    pool.reset();
    EXPECT_EQ(nullptr, pool.freeElements);
    EXPECT_THROW(pool.takeElement(), FatalError);
}

TEST(KdPool, PoolTooSmallForAnyEntryThrowsInsteadOfHandingOutReferenceZero) {
    KdPool pool(2);
    EXPECT_THROW(pool.takeElement(), FatalError);
    EXPECT_THROW(pool.takePair(), FatalError);
}

} // namespace
} // namespace Raytracer
