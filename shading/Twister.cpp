#include "shading/Twister.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

namespace Raytracer {

namespace {

constexpr std::uint32_t upperMask = 0x80000000u;
constexpr std::uint32_t lowerMask = 0x7FFFFFFFu;
constexpr std::uint32_t magnitude[2] = {0u, 0x9908B0DFu};

// The seeded table of a seed and its first regeneration, made once and never changed, so any thread
// may read them. Generators are created outside the render loop; the lock guards only the creation.
struct SharedTables {
    std::unique_ptr<std::uint32_t[]> seeded;
    std::unique_ptr<std::uint32_t[]> regenerated;
};

const SharedTables& sharedTables(std::uint32_t seed) {
    static std::mutex lock;
    static std::map<std::uint32_t, SharedTables> tables;
    const std::lock_guard<std::mutex> guard(lock);
    auto found = tables.find(seed);
    if (found == tables.end()) {
        SharedTables made{std::make_unique<std::uint32_t[]>(Twister::stateSize),
                          std::make_unique<std::uint32_t[]>(Twister::stateSize)};
        Twister::seed(made.seeded.get(), seed);
        std::copy_n(made.seeded.get(), Twister::stateSize, made.regenerated.get());
        Twister::regenerate(made.regenerated.get());
        found = tables.emplace(seed, std::move(made)).first;
    }
    return found->second;
}

} // namespace

// new[] without (): the storage stays untouched, and so not resident, until this generator writes it.
Twister::Twister(std::uint32_t seed) : m_own(new std::uint32_t[stateSize]) {
    setSeed(seed);
}

void Twister::setSeed(std::uint32_t seed) {
    const SharedTables& shared = sharedTables(seed);
    m_table = shared.seeded.get();
    m_sharedNext = shared.regenerated.get();
    m_owning = false;
    index = stateSize;
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
    if (m_owning) {
        regenerate(m_own.get());
    } else if (m_table != m_sharedNext) {
        m_table = m_sharedNext;
    } else {
        std::copy_n(m_table, stateSize, m_own.get());
        regenerate(m_own.get());
        m_table = m_own.get();
        m_owning = true;
    }
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
