// The relief's history ring, its colours and bars, handed from the audio thread to frames through a
// sequence lock (see the header for the trade-offs).

#include "SpectrumHistory.h"

#include <cmath>
#include <cstring>
#include <thread>

#include "src/brel_memory.h"

using namespace SpectrumConstants;

namespace {

const int colors[7][3] = {
    {16, 16, 48}, {0, 255, 0}, {0, 255, 0}, {255, 255, 0}, {255, 255, 0}, {255, 0, 0}, {255, 0, 0},
};

const Color4u CLEARED_COLOUR = {16, 16, 32, 255};

std::uint32_t pack(const Color4u& c) {
    std::uint32_t packed;
    std::memcpy(&packed, &c, sizeof packed);
    return packed;
}

Color4u unpack(std::uint32_t packed) {
    Color4u c;
    std::memcpy(&c, &packed, sizeof c);
    return c;
}

} // namespace

void mapColor(float v, Color4u& colour) {
    float x = v * 8.0f;
    if (x < 0.0f)
        x = 0.0f;
    else if (x > 6.0f)
        x = 6.0f;
    const int i = static_cast<int>(std::floor(x));
    const float f = x - static_cast<float>(i);
    const float w0 = 1.0f - f;
    const double w1 = 1.0 - static_cast<double>(w0);
    // At x = 6 the next entry has weight 0: leave it unread rather than step past the table.
    const int next = i < 6 ? i + 1 : 6;
    std::uint8_t c[3];
    for (int k = 0; k < 3; ++k) {
        const double component = static_cast<double>(w0 * static_cast<float>(colors[i][k])) +
                                 static_cast<double>(colors[next][k]) * w1;
        c[k] = static_cast<std::uint8_t>(static_cast<int>(component));
    }
    colour = {c[0], c[1], c[2], 255};
}

SpectrumHistory::SpectrumHistory() {
    clearShared();
}

void SpectrumHistory::clearShared() noexcept {
    const std::uint32_t cleared = pack(CLEARED_COLOUR);
    for (int i = 0; i < VALUES; ++i) {
        _data[i].store(0.0f, std::memory_order_release);
        _imgData[i].store(cleared, std::memory_order_release);
    }
    for (int b = 0; b < BARS; ++b)
        _bars[b].store(0.0f, std::memory_order_release);
    _head.store(0, std::memory_order_release);
}

void SpectrumHistory::clearData() {
    _clearRequests.fetch_add(1, std::memory_order_release);
}

void SpectrumHistory::newData(const Signal::Sample* data, int length) noexcept {
    int count = length;
    if (length != SAMPLES) {
        brel::mac::assertion_failure("length == SAMPLES", "Shared/SpectrumView", __LINE__);
        // Keep the ring moving with what is there: at most one line, missing values as 0.
        count = length < 0 ? 0 : (length > SAMPLES ? SAMPLES : length);
    }
    if (!data)
        count = 0;

    const std::uint32_t sequence = _sequence.load(std::memory_order_relaxed);
    _sequence.store(sequence + 1, std::memory_order_relaxed);

    const std::uint32_t requests = _clearRequests.load(std::memory_order_acquire);
    if (requests != _clearsDone.load(std::memory_order_relaxed)) {
        clearShared();
        _clearsDone.store(requests, std::memory_order_release);
    }

    const int head = _head.load(std::memory_order_relaxed);
    const int base = head * SAMPLES;
    // The lowest band is discarded: the relief's left edge always lies at height 0.
    _data[base].store(0.0f, std::memory_order_release);
    for (int i = 1; i < SAMPLES; ++i) {
        const float value = i < count ? data[i] : 0.0f;
        _data[base + i].store(value, std::memory_order_release);
        if (i >= count)
            continue;
        int b = (10 * i) / SAMPLES;
        if (b > BARS - 1)
            b = BARS - 1;
        float bar = static_cast<float>(0.93 * static_cast<double>(_bars[b].load(std::memory_order_relaxed)) +
                                       0.22 * static_cast<double>(value));
        if (bar > 1.0f)
            bar = 1.0f;
        _bars[b].store(bar, std::memory_order_release);
    }
    for (int j = 0; j < SAMPLES; ++j) {
        Color4u colour;
        mapColor(_data[base + j].load(std::memory_order_relaxed), colour);
        _imgData[base + j].store(pack(colour), std::memory_order_release);
    }
    _head.store((head + 1) % LINES, std::memory_order_release);

    _sequence.store(sequence + 2, std::memory_order_release);
}

void SpectrumHistory::fillCleared(SpectrumFrame& frame) {
    for (int i = 0; i < VALUES; ++i) {
        frame.data[i] = 0.0f;
        frame.imgData[i] = CLEARED_COLOUR;
    }
    for (int b = 0; b < BARS; ++b)
        frame.bars[b] = 0.0f;
    frame.head = 0;
}

void SpectrumHistory::snapshot(SpectrumFrame& frame) const {
    std::uint32_t clearsDone;
    for (;;) {
        const std::uint32_t before = _sequence.load(std::memory_order_acquire);
        if (before & 1u) {
            std::this_thread::yield();
            continue;
        }
        for (int i = 0; i < VALUES; ++i) {
            frame.data[i] = _data[i].load(std::memory_order_acquire);
            frame.imgData[i] = unpack(_imgData[i].load(std::memory_order_acquire));
        }
        for (int b = 0; b < BARS; ++b)
            frame.bars[b] = _bars[b].load(std::memory_order_acquire);
        frame.head = _head.load(std::memory_order_acquire);
        clearsDone = _clearsDone.load(std::memory_order_acquire);
        if (_sequence.load(std::memory_order_relaxed) == before)
            break;
    }
    // A clear that newData has not carried out yet is already in effect for the picture.
    if (_clearRequests.load(std::memory_order_acquire) != clearsDone)
        fillCleared(frame);
}
