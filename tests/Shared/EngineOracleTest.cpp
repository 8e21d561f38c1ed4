// The engine against the plain transcription of the chain (Signal/ChainOracle.h), bit for bit, on whole
// recordings: the bundled sample, generated voices, noise, a sweep, silence and a full-scale square,
// each fed to the engine in one block and in random splits.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/Shared/Signal/ChainOracle.h"
#include "tests/Shared/Signal/EngineRun.h"

namespace {

// Where two float streams first differ in their bits, or -1 when they are identical.
long firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
            return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

// Returns the frames on which the voice level rose.
int expectSameAsOracle(const std::string& name, const std::vector<short>& samples, std::mt19937& random) {
    oracle::ChainOracle reference;
    reference.push(samples.data(), static_cast<int>(samples.size()));
    EXPECT_EQ(reference.lies.size(), samples.size() / oracle::ChainOracle::HOP) << name;

    std::vector<std::vector<int>> splits(1, std::vector<int>(1, static_cast<int>(samples.size())));
    for (int maxBlock : {1, 127, 129, 700, 5000}) {
        std::vector<int> blocks;
        std::uniform_int_distribution<int> length(1, maxBlock);
        for (std::size_t left = samples.size(); left > 0;) {
            const int n =
                static_cast<int>(std::min<std::size_t>(left, static_cast<std::size_t>(length(random))));
            blocks.push_back(n);
            left -= static_cast<std::size_t>(n);
        }
        splits.push_back(blocks);
    }
    for (const std::vector<int>& blocks : splits) {
        const oracle::EngineRun out(samples, blocks);
        EXPECT_TRUE(out.attached) << name;
        const long lie = firstDifference(out.lies, reference.lies);
        const long band = firstDifference(out.spectra, reference.spectra);
        EXPECT_EQ(lie, -1) << name << ", " << blocks.size() << " blocks: lie level of frame " << lie
                           << " differs (" << out.lies.size() << " frames against " << reference.lies.size()
                           << ")";
        EXPECT_EQ(band, -1) << name << ", " << blocks.size() << " blocks: spectrum of frame "
                            << band / oracle::ChainOracle::BANDS << " differs at band "
                            << band % oracle::ChainOracle::BANDS;
    }
    return reference.voiceRises;
}

// The samples of a 16-bit PCM WAV file, read chunk by chunk.
std::vector<short> readWav(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    std::vector<short> samples;
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 |
               std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
    };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(&bytes[8], "WAVE", 4) != 0)
        return samples;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::size_t size = u32(at + 4);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            for (std::size_t i = at + 8; i + 1 < bytes.size() && i + 1 < at + 8 + size; i += 2)
                samples.push_back(static_cast<short>(bytes[i] | bytes[i + 1] << 8));
            break;
        }
        at += 8 + size + (size & 1);
    }
    return samples;
}

short clip(double v) {
    return static_cast<short>(std::lround(v > 32767.0 ? 32767.0 : (v < -32768.0 ? -32768.0 : v)));
}

// A voice-like signal: a glottal pulse train with a wandering pitch through two formant resonators,
// in quick syllables of 80-200 ms separated by pauses of 60-200 ms with a little room noise.
std::vector<short> voice(double basePitch, double level, std::mt19937& random, int seconds) {
    std::vector<short> out;
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::normal_distribution<double> hiss(0.0, 30.0);
    double phase = 0.0;
    double y1[2] = {0, 0}, y2[2] = {0, 0};
    while (out.size() < static_cast<std::size_t>(seconds) * 8000) {
        const int syllable = 640 + static_cast<int>(uniform(random) * 960);
        // Front vowels (second formant high) alternate with back ones (second formant near the first).
        const double f1 = 350.0 + uniform(random) * 450.0;
        const double f2 =
            uniform(random) < 0.5 ? 1900.0 + uniform(random) * 800.0 : 900.0 + uniform(random) * 500.0;
        const double pitch = basePitch * (0.8 + 0.4 * uniform(random));
        for (int i = 0; i < syllable; ++i) {
            const double t = double(i) / syllable;
            phase += pitch * (1.0 + 0.1 * t) / 8000.0;
            const double pulse = phase >= 1.0 ? 1.0 : 0.0;
            phase -= std::floor(phase);
            double x = pulse;
            const double f[2] = {f1, f2};
            double sum = 0.0;
            for (int r = 0; r < 2; ++r) {
                const double radius = 0.97, w = 2.0 * M_PI * f[r] / 8000.0;
                const double y = x + 2.0 * radius * std::cos(w) * y1[r] - radius * radius * y2[r];
                y2[r] = y1[r];
                y1[r] = y;
                sum += y;
            }
            out.push_back(clip(level * std::sin(M_PI * t) * sum + hiss(random)));
        }
        const int pause = 480 + static_cast<int>(uniform(random) * 1120);
        for (int i = 0; i < pause; ++i)
            out.push_back(clip(hiss(random)));
    }
    return out;
}

TEST(EngineOracle, EngineMatchesThePlainChainBitForBitOnRecordingsAndAnySplit) {
    std::mt19937 random(20261209);

    const std::vector<short> sample = readWav(SAMPLE_WAV);
    ASSERT_GT(sample.size(), 8000u * 5) << "cannot read " << SAMPLE_WAV;
    // The recordings must reach the detector's rising branch, or it would go uncompared.
    EXPECT_GT(expectSameAsOracle("resources/sample.wav", sample, random), 20);
    EXPECT_GT(expectSameAsOracle("low voice", voice(110.0, 900.0, random, 6), random), 20);
    EXPECT_GT(expectSameAsOracle("high loud voice", voice(230.0, 6000.0, random, 6), random), 20);

    std::vector<short> noise(8000 * 3);
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::normal_distribution<double> quiet(0.0, 40.0);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = i < noise.size() / 2 ? static_cast<short>(full(random)) : clip(quiet(random));
    expectSameAsOracle("noise", noise, random);

    std::vector<short> sweep(8000 * 4);
    for (std::size_t i = 0; i < sweep.size(); ++i) {
        const double t = double(i) / 8000.0;
        sweep[i] = clip(20000.0 * std::sin(2.0 * M_PI * (20.0 * t + 495.0 * t * t)));
    }
    expectSameAsOracle("sweep 20-3980 Hz", sweep, random);

    expectSameAsOracle("silence", std::vector<short>(8000 * 2, 0), random);

    std::vector<short> square(8000 * 2);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 20) % 2 == 0 ? 32767 : -32768;
    expectSameAsOracle("full-scale square", square, random);
}

} // namespace
