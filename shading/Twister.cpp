#include "shading/Twister.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <new>
#include <map>
#include <mutex>
#include <utility>

namespace Raytracer {

// One table of a seed's sequence: generation n is the seeded table regenerated n times. The first
// generator to reach it writes the words, under the lock; every other takes the lock once before it
// reads them, so the draws themselves need none.
//
// A table is mapped whole and unmapped when freed: from the allocator, a freed table would stay
// resident in the arena of the worker thread that made it, and many threads make them.
struct TwisterGeneration {
    static constexpr std::size_t bytes = sizeof(std::uint32_t) * Twister::stateSize;

    TwisterGeneration() = default;
    TwisterGeneration(const TwisterGeneration&) = delete;
    TwisterGeneration& operator=(const TwisterGeneration&) = delete;
    ~TwisterGeneration() {
        if (words != nullptr) {
            ::munmap(words, bytes);
        }
    }

    static std::uint32_t* map() {
        void* mapped = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            throw std::bad_alloc();
        }
        return static_cast<std::uint32_t*>(mapped);
    }

    std::mutex lock;
    std::uint32_t* words = nullptr; // null until computed, then never changed
};

namespace {

constexpr std::uint32_t upperMask = 0x80000000u;
constexpr std::uint32_t lowerMask = 0x7FFFFFFFu;
constexpr std::uint32_t magnitude[2] = {0u, 0x9908B0DFu};

// The generations that some generator holds, by seed and number. The entries are weak, so a table is
// freed with its last holder; the entries it leaves behind are swept whenever a generation is added.
std::shared_ptr<TwisterGeneration> sharedGeneration(std::uint32_t seed, std::uint64_t number) {
    static std::mutex lock;
    static std::map<std::pair<std::uint32_t, std::uint64_t>, std::weak_ptr<TwisterGeneration>> held;
    const std::lock_guard<std::mutex> guard(lock);
    const auto key = std::make_pair(seed, number);
    const auto found = held.find(key);
    if (found != held.end()) {
        if (std::shared_ptr<TwisterGeneration> generation = found->second.lock()) {
            return generation;
        }
    }
    std::erase_if(held, [](const auto& entry) { return entry.second.expired(); });
    auto generation = std::make_shared<TwisterGeneration>();
    held.emplace(key, generation);
    return generation;
}

} // namespace

Twister::Twister(std::uint32_t seed) {
    setSeed(seed);
}

void Twister::setSeed(std::uint32_t seed) {
    hold(seed, 0, nullptr);
    index = stateSize;
}

void Twister::hold(std::uint32_t seed, std::uint64_t generation, const std::uint32_t* previous) {
    std::shared_ptr<TwisterGeneration> shared = sharedGeneration(seed, generation);
    {
        const std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->words == nullptr) {
            std::uint32_t* words = TwisterGeneration::map();
            if (previous == nullptr) {
                Twister::seed(words, seed);
            } else {
                std::copy_n(previous, stateSize, words);
                regenerate(words);
            }
            shared->words = words;
        }
        m_table = shared->words;
    }
    m_seed = seed;
    m_generation = generation;
    // Lets go of the generation before; its last holder frees it.
    m_held = std::move(shared);
}

void Twister::seed(std::uint32_t* table, std::uint32_t seed) {
    table[0] = seed;
    for (std::int32_t i = 1; i < stateSize; ++i) {
        table[i] = table[i - 1] * 69069u;
    }
    // A second, xorshift-scrambled stream breaks up the plain multiplicative sequence; word 0 keeps the
    // seed as it is.
    std::uint32_t v = 373737u;
    for (std::int32_t i = 1; i < stateSize; ++i) {
        table[i] ^= v;
        const std::uint32_t t = v * 5531u + 81547u;
        v = t ^ (t << 19) ^ (t >> 9);
    }
}

// In place and in this order: the wrapped-around steps read words the first loop already renewed.
void Twister::regenerate(std::uint32_t* table) {
    constexpr std::int32_t n = stateSize;
    constexpr std::int32_t m = middleOffset;
    std::int32_t k = 0;
    for (; k < n - m; ++k) {
        const std::uint32_t y = (table[k] & upperMask) | (table[k + 1] & lowerMask);
        table[k] = table[k + m] ^ (y >> 1) ^ magnitude[y & 1u];
    }
    for (; k < n - 1; ++k) {
        const std::uint32_t y = (table[k] & upperMask) | (table[k + 1] & lowerMask);
        table[k] = table[k + m - n] ^ (y >> 1) ^ magnitude[y & 1u];
    }
    const std::uint32_t y = (table[n - 1] & upperMask) | (table[0] & lowerMask);
    table[n - 1] = table[m - 1] ^ (y >> 1) ^ magnitude[y & 1u];
}

void Twister::next() {
    hold(m_seed, m_generation + 1, m_table);
    index = 0;
}

std::uint32_t Twister::nextUint() {
    if (index >= stateSize) {
        next();
    }
    const std::uint32_t y = m_table[index];
    ++index;
    return temper(y);
}

float Twister::nextFloat() {
    return toUnit(nextUint());
}

void Twister::samplePair(std::uint32_t seed, float& a, float& b) const {
    const std::uint32_t i = (seed & 0xFFFFu) ^ (seed >> 16);
    a = toUnit(temper(m_table[i]));
    b = toUnit(temper(m_table[(i + 1u) & 0xFFFFu]));
}

} // namespace Raytracer
