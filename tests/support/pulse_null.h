#pragma once
// The tests that play into the null sink of scripts/pulse-null and record its monitor: reaching the
// private server, skipping without it, and finding where a stretch of sound landed in a recording.
// The object also tells LeakSanitizer about the audio system's plug-ins, which keep allocations past
// their unloading.

#include <cstddef>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace veraxo_test {

// Points PulseAudio clients and ALSA at the private daemon of scripts/pulse-null unless the environment
// already names a server; true when a server answers.
bool reach_pulse_audio();

// The offset of `needle` inside `haystack` with the highest normalised correlation, and that correlation.
std::pair<long, double> best_offset(const std::vector<short>& haystack, const short* needle,
                                    std::size_t length);

} // namespace veraxo_test

// Skips the test (or the fixture's tests, from SetUp) when no server is reachable.
#define SKIP_WITHOUT_PULSE_AUDIO()                                                                           \
    do {                                                                                                     \
        if (!veraxo_test::reach_pulse_audio())                                                               \
            GTEST_SKIP() << "no PulseAudio server reachable: run `eval \"$(scripts/pulse-null start)\"` "    \
                            "first";                                                                         \
    } while (false)
