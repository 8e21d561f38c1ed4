#pragma once
// The input level as the microphone or the recording delivers it, measured on the audio thread and read
// on the main thread. input() is registered on the voice unit beside the engine: it keeps the largest
// magnitude seen and whether any sample sat at the 16-bit rails, in two atomics, with no lock and no
// allocation. The main thread calls take() on a timer; it returns what arrived since the last take and
// starts a new period.

#include <atomic>

class LevelMeter {
public:
    struct Reading {
        // Largest magnitude in the period, 0 to 32768; 0 when nothing arrived.
        int peak = 0;
        // A sample at +32767 or -32768 arrived in the period.
        bool clipped = false;
        // Samples that arrived in the period.
        int samples = 0;
    };

    // Audio thread. Real-time safe.
    void input(const short* samples, int count) noexcept;
    // Main thread.
    Reading take() noexcept;

    // Decibels relative to full scale (32768) of a peak; -inf dBFS is given as -120.
    static double decibels(int peak);

private:
    std::atomic<int> _peak{0};
    std::atomic<bool> _clipped{false};
    std::atomic<int> _samples{0};
};
