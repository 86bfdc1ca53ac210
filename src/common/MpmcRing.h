// Bounded lock-free multi-producer multi-consumer queue (D. Vyukov's array-based algorithm):
// each cell carries a sequence number that tells producers and consumers whose turn it is.
// T must be trivially copyable. Capacity is a power of two.
#ifndef VEXA_MPMC_RING_H
#define VEXA_MPMC_RING_H

#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>

template <typename T>
class MpmcRing {
    static_assert(std::is_trivially_copyable<T>::value, "MpmcRing holds plain records");

public:
    explicit MpmcRing(size_t capacity) {
        size_t cap = 2;
        while (cap < capacity) cap <<= 1;
        m_mask = cap - 1;
        m_cells.reset(new Cell[cap]);
        for (size_t i = 0; i < cap; ++i) m_cells[i].seq.store(i, std::memory_order_relaxed);
    }

    size_t capacity() const { return m_mask + 1; }

    // False when the ring is full.
    bool push(const T& value) {
        size_t pos = m_tail.load(std::memory_order_relaxed);
        for (;;) {
            Cell& c = m_cells[pos & m_mask];
            const size_t seq = c.seq.load(std::memory_order_acquire);
            const intptr_t dif = static_cast<intptr_t>(seq) - static_cast<intptr_t>(pos);
            if (dif == 0) {
                if (m_tail.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    c.value = value;
                    c.seq.store(pos + 1, std::memory_order_release);
                    return true;
                }
            } else if (dif < 0) {
                return false;
            } else {
                pos = m_tail.load(std::memory_order_relaxed);
            }
        }
    }

    // False when the ring is empty.
    bool pop(T& out) {
        size_t pos = m_head.load(std::memory_order_relaxed);
        for (;;) {
            Cell& c = m_cells[pos & m_mask];
            const size_t seq = c.seq.load(std::memory_order_acquire);
            const intptr_t dif = static_cast<intptr_t>(seq) - static_cast<intptr_t>(pos + 1);
            if (dif == 0) {
                if (m_head.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    out = c.value;
                    c.seq.store(pos + m_mask + 1, std::memory_order_release);
                    return true;
                }
            } else if (dif < 0) {
                return false;
            } else {
                pos = m_head.load(std::memory_order_relaxed);
            }
        }
    }

private:
    struct Cell {
        std::atomic<size_t> seq;
        T value;
    };
    std::unique_ptr<Cell[]> m_cells;
    size_t m_mask = 0;
    alignas(64) std::atomic<size_t> m_tail{0};
    alignas(64) std::atomic<size_t> m_head{0};
};

#endif
