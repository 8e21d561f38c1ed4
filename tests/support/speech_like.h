#pragma once
// A speech-like test signal at 8000 Hz: bursts of a tone with noise, every third burst a near-silent
// pause, so that every filter of the analysis does its usual work. Header-only, for tests and benchmarks.

#include <cmath>
#include <random>
#include <vector>

namespace veraxo_test {

struct SpeechLike {
    unsigned seed = 1;
    int burst = 2400; // samples per burst or pause
    double toneHz = 180.0;
    double tone = 5000.0;     // amplitude of the tone
    double noise = 1500.0;    // standard deviation of the noise under the tone
    double pauseNoise = 20.0; // standard deviation of the noise in a pause
};

inline std::vector<short> speechLike(int n, const SpeechLike& p = SpeechLike()) {
    std::mt19937 rng(p.seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<short> x(static_cast<std::size_t>(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i) {
        const bool on = (i / p.burst) % 3 != 2;
        const double v = on ? p.tone * std::sin(2 * M_PI * p.toneHz * i / 8000) + p.noise * noise(rng)
                            : p.pauseNoise * noise(rng);
        x[static_cast<std::size_t>(i)] = static_cast<short>(std::lrint(v));
    }
    return x;
}

} // namespace veraxo_test
