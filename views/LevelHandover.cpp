// The single-writer, single-reader value ring between the audio thread and the main thread.

#include "LevelHandover.h"

#include <algorithm>

void LevelHandover::push(float value) noexcept {
    const std::uint64_t index = _written.load(std::memory_order_relaxed);
    _started.store(index + 1, std::memory_order_relaxed);
    // A reader that sees this value also sees the start mark stored before it.
    _slots[index & MASK].store(value, std::memory_order_release);
    _written.store(index + 1, std::memory_order_release);
}

int LevelHandover::take(float* out, int maxCount) {
    const std::uint64_t end = _written.load(std::memory_order_acquire);
    std::uint64_t begin = std::max(_read, end > CAPACITY ? end - CAPACITY : 0);
    const std::uint64_t limit = maxCount > 0 ? static_cast<std::uint64_t>(maxCount) : 0;
    if (end - begin > limit)
        begin = end - limit;
    for (std::uint64_t i = begin; i < end; ++i)
        out[i - begin] = _slots[i & MASK].load(std::memory_order_acquire);
    // Slots below started - CAPACITY may have been overwritten while they were copied.
    const std::uint64_t started = _started.load(std::memory_order_relaxed);
    const std::uint64_t firstIntact = started > CAPACITY ? started - CAPACITY : 0;
    _read = end;
    if (firstIntact <= begin)
        return static_cast<int>(end - begin);
    if (firstIntact >= end)
        return 0;
    std::copy(out + (firstIntact - begin), out + (end - begin), out);
    return static_cast<int>(end - firstIntact);
}

void LevelHandover::skip() {
    _read = _written.load(std::memory_order_acquire);
}
