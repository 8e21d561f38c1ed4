#pragma once
// Hands single values from one writer thread (the audio thread) to one reader thread (the main
// thread) without either ever waiting. The writer overwrites a ring of CAPACITY values; the reader
// takes what arrived since its last take. Should the reader fall more than CAPACITY values behind, the
// oldest are lost and the newest CAPACITY remain. Each slot is an atomic (release stores, acquire
// loads) and a second counter marks writes in progress, so a value overwritten while the reader
// copies it is detected and dropped.

#include <atomic>
#include <cstdint>

class LevelHandover {
public:
    static constexpr int CAPACITY = 8192;

    // Writer side. Real-time safe.
    void push(float value) noexcept;
    // Reader side: copies into out the values pushed since the last take or skip, oldest first, at
    // most the newest maxCount of them, and returns how many.
    int take(float* out, int maxCount);
    // Reader side: forgets everything pushed so far.
    void skip();
    // Reader side: whether anything was pushed since the last take or skip.
    bool pending() const { return _written.load(std::memory_order_acquire) != _read; }

private:
    static constexpr std::uint64_t MASK = CAPACITY - 1;
    static_assert((CAPACITY & (CAPACITY - 1)) == 0, "the ring's index wraps with a mask");

    std::atomic<float> _slots[CAPACITY] = {};
    // Writes begun and writes finished; equal while no write is in progress.
    std::atomic<std::uint64_t> _started{0};
    std::atomic<std::uint64_t> _written{0};
    // Reader only.
    std::uint64_t _read = 0;
};
