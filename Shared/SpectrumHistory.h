#pragma once
// The data behind the spectrum relief: a ring of LINES history lines of SAMPLES band values, the
// colour of every value, and ten level bars that follow the bands.
//
// newData runs on the thread that delivers the analysis output (the audio thread in the app); frames
// are drawn on the main thread. The hand-over is a sequence lock: the writer never waits, it bumps the
// sequence to odd, writes one line, the bars and the head, and bumps it to even again; a reader copies
// the whole state and copies again if the sequence moved meanwhile. Every shared element is an atomic
// stored with release and loaded with acquire (plain moves on x86), so a reader that sees any new
// element also sees the odd sequence before it, and a copy that races with a write is merely thrown
// away, never undefined. clearData, which
// comes from the main thread, does not write at all: it raises a request that the next newData
// carries out and that every snapshot taken before then already shows.

#include <atomic>
#include <cstdint>

#include "Shared/Signal/Sample.h"

namespace SpectrumConstants {
constexpr int SAMPLES = 32;
constexpr int LINES = 96;
constexpr int BARS = 10;
} // namespace SpectrumConstants

// A colour of four bytes in the order red, green, blue, alpha, as the colour arrays hand it to GL.
struct Color4u {
    std::uint8_t r, g, b, a;
    bool operator==(const Color4u&) const = default;
};

// The relief's colour ramp from dark blue through green and yellow to red.
void mapColor(float v, Color4u& colour);

// One consistent copy of the history, as a frame draws it.
struct SpectrumFrame {
    float data[SpectrumConstants::LINES * SpectrumConstants::SAMPLES];
    Color4u imgData[SpectrumConstants::LINES * SpectrumConstants::SAMPLES];
    float bars[SpectrumConstants::BARS];
    int head;
};

class SpectrumHistory {
public:
    SpectrumHistory();
    SpectrumHistory(const SpectrumHistory&) = delete;
    SpectrumHistory& operator=(const SpectrumHistory&) = delete;

    // Empties the history and the bars: every line 0 in (16, 16, 32), bars 0, head 0.
    void clearData();
    // Audio thread: stores one block of SAMPLES values as the newest line and updates the bars.
    // Real-time safe.
    void newData(const Signal::Sample* data, int length) noexcept;
    // Copies the current state into frame; never sees a half-written line.
    void snapshot(SpectrumFrame& frame) const;
    // Changes whenever a snapshot could differ from one taken before: a snapshot taken after reading
    // the same version shows the same state.
    std::uint64_t version() const noexcept {
        return (std::uint64_t(_clearRequests.load(std::memory_order_acquire)) << 32) |
               _sequence.load(std::memory_order_acquire);
    }

private:
    void clearShared() noexcept;
    static void fillCleared(SpectrumFrame& frame);

    static constexpr int VALUES = SpectrumConstants::LINES * SpectrumConstants::SAMPLES;

    std::atomic<float> _data[VALUES];
    std::atomic<std::uint32_t> _imgData[VALUES];
    std::atomic<float> _bars[SpectrumConstants::BARS];
    std::atomic<int> _head;
    // Odd while newData writes.
    std::atomic<std::uint32_t> _sequence{0};
    // Clears asked for by clearData and clears carried out by newData.
    std::atomic<std::uint32_t> _clearRequests{0};
    std::atomic<std::uint32_t> _clearsDone{0};
};
