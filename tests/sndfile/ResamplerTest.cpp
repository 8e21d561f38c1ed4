// The rate converter against what the analysis needs from a CD-rate (or 48 kHz) recording: the pass
// band up to 3.4 kHz flat within 0.1 dB, and a 5 kHz tone, which would fold onto 3 kHz, in no mel band
// of the analysis at more than -90 dB relative to a 1 kHz tone of the same level. The bands are the
// engine's own (the transform and mel bank filters), fed the converter's float output, so the 16-bit
// rounding of the file reader does not hide what the filter lets through. Band values are sums of
// magnitudes, so their ratio in dB is 20 log10.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "Shared/Signal/Filter/DFFT.h"
#include "Shared/Signal/Filter/Mel.h"
#include "sndfile/Resampler.h"
#include "tests/Shared/Signal/Collector.h"

namespace {

const double OUT_RATE = 8000.0;
const double LEVEL = 0.5;

// A tone of `seconds` at `rate`, converted to 8000 Hz in blocks of uneven lengths, tail included.
std::vector<float> converted(double rate, double frequency, double phase, double seconds) {
    const std::size_t n = static_cast<std::size_t>(rate * seconds);
    std::vector<float> in(n);
    for (std::size_t i = 0; i < n; ++i)
        in[i] = static_cast<float>(LEVEL * std::cos(2 * M_PI * frequency * i / rate + phase));
    Resampler resampler;
    EXPECT_TRUE(resampler.prepare(rate, OUT_RATE)) << resampler.errorText();
    std::vector<float> out;
    float block[512];
    const std::size_t lengths[] = {1000, 37, 4410, 1};
    std::size_t at = 0;
    for (std::size_t k = 0;; ++k) {
        const std::size_t length = std::min(lengths[k % 4], n - at);
        std::size_t used = 0;
        std::size_t produced = 0;
        EXPECT_TRUE(resampler.process(at < n ? in.data() + at : nullptr, length, used, block, 512, produced));
        out.insert(out.end(), block, block + produced);
        at += used;
        if (at == n && used == 0 && produced == 0)
            break;
    }
    // The filter's delay is taken out: the output lines up with the input, sample count included.
    EXPECT_EQ(out.size(), static_cast<std::size_t>(std::llround(n * OUT_RATE / rate))) << rate;
    return out;
}

// Amplitude of a tone at `frequency` in y, by a least-squares fit away from both ends.
double amplitude(const std::vector<float>& y, double frequency) {
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
    for (std::size_t i = 1000; i + 1000 < y.size(); ++i) {
        const double s = std::sin(2 * M_PI * frequency * i / OUT_RATE);
        const double c = std::cos(2 * M_PI * frequency * i / OUT_RATE);
        ss += s * s;
        sc += s * c;
        cc += c * c;
        ys += y[i] * s;
        yc += y[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det;
    const double b = (yc * ss - ys * sc) / det;
    return std::sqrt(a * a + b * b);
}

// The largest value any mel band of the analysis takes over the steady part of y (a tenth of a
// second off each end, where the tone starts and stops).
double loudestBand(const std::vector<float>& y) {
    Signal::Filter::DFFT dfft(256);
    Signal::Filter::Mel mel(8000, 128, 200.0f, 3400.0f);
    veraxo_test::Collector bands;
    dfft.addOutput(&mel);
    mel.addOutput(&bands);
    dfft.filter(y.data(), static_cast<int>(y.size()));
    double loudest = 0;
    const std::size_t margin = static_cast<std::size_t>(0.1 * OUT_RATE / 128);
    for (std::size_t f = margin; f + margin < bands.blocks.size(); ++f)
        for (float v : bands.blocks[f])
            loudest = std::max(loudest, static_cast<double>(v));
    return loudest;
}

} // namespace

TEST(Resampler, CdRatesKeepThePassBandFlatAndNoAliasReachesTheBands) {
    for (double rate : {44100.0, 48000.0, 22050.0}) {
        for (double f : {100.0, 300.0, 1000.0, 2000.0, 3000.0, 3400.0}) {
            const double gain = 20 * std::log10(amplitude(converted(rate, f, 0.3, 2.0), f) / LEVEL);
            EXPECT_LT(std::fabs(gain), 0.1) << rate << " Hz in, a tone at " << f << " Hz";
        }
        // A tone on a bin's centre keeps its phase from frame to frame, and the transform passes on the
        // real part alone: both phases are tried, for the reference and for the alias.
        double reference = 0;
        double alias = 0;
        for (double phase : {0.0, M_PI / 2}) {
            reference = std::max(reference, loudestBand(converted(rate, 1000.0, phase, 2.0)));
            alias = std::max(alias, loudestBand(converted(rate, 5000.0, phase, 2.0)));
        }
        ASSERT_GT(reference, 0.0);
        EXPECT_LT(20 * std::log10(alias / reference), -90.0) << rate << " Hz in";
    }
}
