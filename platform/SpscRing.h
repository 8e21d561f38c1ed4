#pragma once
// A single-producer, single-consumer ring of plain values, sized once at set-up: the producer copies in
// at the tail, the consumer copies out at the head, and neither ever waits, locks or allocates. Either
// side sees the other's progress through one atomic counter each; counts never wrap in practice (64
// bits of items).

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <vector>

namespace platform {

template <typename T> class SpscRing {
    static_assert(std::is_trivially_copyable<T>::value, "items are copied as bytes");

public:
    // Set-up only, with neither side running: room for `capacity` items, and empty.
    void reset(std::size_t capacity) {
        _items.assign(capacity, T());
        _head.store(0);
        _tail.store(0);
    }
    std::size_t capacity() const { return _items.size(); }

    // Producer: room left.
    std::size_t room() const noexcept {
        return _items.size() -
               std::size_t(_tail.load(std::memory_order_relaxed) - _head.load(std::memory_order_acquire));
    }
    // Producer: copies in as many of the n items as fit; returns how many did.
    std::size_t push(const T* items, std::size_t n) noexcept {
        const unsigned long long tail = _tail.load(std::memory_order_relaxed);
        n = std::min(n, room());
        copyIn(items, n, tail);
        _tail.store(tail + n, std::memory_order_release);
        return n;
    }

    // Consumer: items waiting.
    std::size_t available() const noexcept {
        return std::size_t(_tail.load(std::memory_order_acquire) - _head.load(std::memory_order_relaxed));
    }
    // Consumer: copies out up to n items; returns how many.
    std::size_t pop(T* out, std::size_t n) noexcept {
        const unsigned long long head = _head.load(std::memory_order_relaxed);
        n = std::min(n, available());
        copyOut(out, n, head);
        _head.store(head + n, std::memory_order_release);
        return n;
    }

private:
    // The ring's pieces from position `at` on: the first up to the end of storage, the second from its start.
    std::size_t firstPiece(std::size_t n, unsigned long long at) const noexcept {
        return std::min(n, _items.size() - std::size_t(at % _items.size()));
    }
    void copyIn(const T* data, std::size_t n, unsigned long long at) noexcept {
        if (n == 0)
            return;
        const std::size_t first = firstPiece(n, at);
        std::memcpy(_items.data() + at % _items.size(), data, first * sizeof(T));
        std::memcpy(_items.data(), data + first, (n - first) * sizeof(T));
    }
    void copyOut(T* data, std::size_t n, unsigned long long at) const noexcept {
        if (n == 0)
            return;
        const std::size_t first = firstPiece(n, at);
        std::memcpy(data, _items.data() + at % _items.size(), first * sizeof(T));
        std::memcpy(data + first, _items.data(), (n - first) * sizeof(T));
    }

    std::vector<T> _items;
    std::atomic<unsigned long long> _head{0};
    std::atomic<unsigned long long> _tail{0};
};

} // namespace platform
