#pragma once

#include <bit>
#include <cstdint>

namespace Raytracer {

class Primitive;
class SceneGeometry;

// Instance searches already run by one top-level query. A proxy's triangles sit in every leaf their
// box crosses and a ray meets several of them, but a search is a function of the ray, the instance
// and the limit alone: a second search with the same limit can only repeat the first one's answer,
// so it is looked up here instead. A full memo forgets its oldest entry, which costs a search again
// and never changes an answer.
class InstanceMemo {
  public:
    struct Entry {
        const SceneGeometry* instance = nullptr;
        float limit = 0.0f; // compared bit for bit: only the very same limit gives the same answer
        int facing = 0;     // 0: nothing in the instance closer than limit
        float distance = 0.0f;
        const Primitive* primitive = nullptr;
        float u = 0.0f;
        float v = 0.0f;
    };

    const Entry* find(const SceneGeometry* instance, float limit) const {
        for (int i = 0; i < m_count; ++i) {
            const Entry& entry = m_slots[i].entry;
            if (entry.instance == instance &&
                std::bit_cast<std::uint32_t>(entry.limit) == std::bit_cast<std::uint32_t>(limit)) {
                return &entry;
            }
        }
        return nullptr;
    }

    void add(const Entry& entry) {
        m_slots[m_next].entry = entry;
        m_next = (m_next + 1) % capacity;
        if (m_count < capacity) {
            ++m_count;
        }
    }

  private:
    // More boxes than a ray of the shipped scene passes through.
    static constexpr int capacity = 8;
    // Every query makes a memo; slots are written before they are read, so none is cleared first.
    union Slot {
        Slot() {}
        Entry entry;
    };
    Slot m_slots[capacity];
    int m_count = 0;
    int m_next = 0;
};

} // namespace Raytracer
