// The audio thread's side of the level meter: one pass over each block, then a lock-free maximum.

#include "LevelMeter.h"

#include <cmath>

static_assert(std::atomic<int>::is_always_lock_free, "the audio thread must never wait on the meter");

void LevelMeter::input(const short* samples, int count) noexcept {
    int peak = 0;
    bool clipped = false;
    for (int i = 0; i < count; ++i) {
        const int value = samples[i];
        const int magnitude = value < 0 ? -value : value;
        if (magnitude > peak)
            peak = magnitude;
        clipped |= value == 32767 || value == -32768;
    }
    int seen = _peak.load(std::memory_order_relaxed);
    while (peak > seen && !_peak.compare_exchange_weak(seen, peak, std::memory_order_relaxed))
        ;
    if (clipped)
        _clipped.store(true, std::memory_order_relaxed);
    _samples.fetch_add(count, std::memory_order_relaxed);
}

LevelMeter::Reading LevelMeter::take() noexcept {
    Reading reading;
    reading.peak = _peak.exchange(0, std::memory_order_relaxed);
    reading.clipped = _clipped.exchange(false, std::memory_order_relaxed);
    reading.samples = _samples.exchange(0, std::memory_order_relaxed);
    return reading;
}

double LevelMeter::decibels(int peak) {
    if (peak <= 0)
        return -120.0;
    return 20.0 * std::log10(double(peak) / 32768.0);
}
