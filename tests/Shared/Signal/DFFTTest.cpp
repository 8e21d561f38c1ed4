// Hann window, framing, the transform's golden values and a bit-for-bit comparison with a plain scalar
// transform written out here step by step.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "Collector.h"
#include "Shared/Signal/Filter/DFFT.h"
#include "Shared/Signal/Utils.h"

using veraxo_test::Collector;

namespace {

std::vector<float> hann(int n) {
    std::vector<float> w(n);
    Signal::Utils::calcHannWindow(n, w.data());
    return w;
}

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The windowed transform in its most direct form: no vectors, no precomputed permutation, the loops in
// the order j outer, k inner.
class ScalarReference {
public:
    explicit ScalarReference(int size) : _n(size), _frame(size, 0.0f), _prev(size / 2, 0.0f) {
        _log2 = 0;
        while ((1 << _log2) < size)
            ++_log2;
        _sin.assign(_log2 * size, 0.0f);
        _cos.assign(_log2 * size, 0.0f);
        for (int s = 0; s < _log2; ++s) {
            const float step = static_cast<float>(-6.283185307179586 / (1 << (s + 1)));
            float angle = 0.0f;
            for (int j = 0; j < size; ++j) {
                _sin[s * size + j] = sinf(angle);
                _cos[s * size + j] = cosf(angle);
                angle += step;
            }
        }
        _window = hann(size);
    }

    // Feeds one hop; returns the averaged block.
    std::vector<float> hop(const float* x) {
        const int half = _n / 2;
        std::memmove(_frame.data(), _frame.data() + half, half * sizeof(float));
        std::memcpy(_frame.data() + half, x, half * sizeof(float));
        std::vector<float> re(_n), im(_n, 0.0f);
        for (int i = 0; i < _n; ++i)
            re[i] = _frame[i] * _window[i];
        int j = 0;
        for (int i = 1; i < _n - 1; ++i) {
            int k = _n / 2;
            while (k <= j) {
                j -= k;
                k /= 2;
            }
            j += k;
            if (i < j)
                std::swap(re[i], re[j]);
        }
        int h = 1;
        for (int s = 0; s < _log2; ++s) {
            const int span = 2 * h;
            for (int jj = 0; jj < h; ++jj) {
                const float wr = _cos[s * _n + jj];
                const float wi = _sin[s * _n + jj];
                for (int k = jj; k < _n; k += span) {
                    const int l = k + h;
                    const float tr = wr * re[l] - wi * im[l];
                    const float ti = wi * re[l] + wr * im[l];
                    re[l] = re[k] - tr;
                    im[l] = im[k] - ti;
                    re[k] = tr + re[k];
                    im[k] = ti + im[k];
                }
            }
            h = span;
        }
        std::vector<float> out(half);
        for (int i = 0; i < half; ++i) {
            const float raw = std::fabs(re[i]);
            out[i] = (raw + _prev[i]) * 0.5f;
            _prev[i] = raw;
        }
        return out;
    }

private:
    int _n;
    int _log2;
    std::vector<float> _frame, _prev, _window, _sin, _cos;
};

} // namespace

TEST(HannWindow, SymmetricWithZeroEndsAndGoldenSum) {
    const std::vector<float> w = hann(256);
    EXPECT_EQ(w[0], 0.0f);
    // The last angle is 2*pi rounded to float, whose cosine falls just short of 1.
    EXPECT_GT(w[255], 0.0f);
    EXPECT_LT(w[255], 1e-14f);
    EXPECT_EQ(w[127], w[128]);
    EXPECT_NEAR(w[127], 0.99996, 1e-5);
    float sum = 0.0f;
    for (float v : w)
        sum += v;
    EXPECT_FLOAT_EQ(sum, 127.5f);

    const std::vector<float> w16 = hann(16);
    float sum16 = 0.0f;
    for (float v : w16)
        sum16 += v;
    EXPECT_FLOAT_EQ(sum16, 7.5f);
}

TEST(HannWindow, AngleIsRoundedToFloatBeforeTheCosine) {
    const std::vector<float> w = hann(256);
    int differFromDoubleAngle = 0;
    for (int i = 0; i < 256; ++i) {
        const float angle = static_cast<float>(i * 6.283185307179586 / 255);
        EXPECT_TRUE(sameBits(w[i], static_cast<float>(0.5 * (1.0 - std::cos(static_cast<double>(angle))))))
            << "index " << i;
        const float viaDouble = static_cast<float>(0.5 * (1.0 - std::cos(i * 6.283185307179586 / 255)));
        differFromDoubleAngle += sameBits(w[i], viaDouble) ? 0 : 1;
    }
    // The rounding is visible: a window computed from the double angle differs somewhere.
    EXPECT_GT(differFromDoubleAngle, 0);
}

TEST(DFFT, EmitsOneBlockPerHop) {
    Signal::Filter::DFFT fft(256);
    Collector out;
    fft.addOutput(&out);
    std::vector<float> x(1000, 0.25f);
    fft.filter(x.data(), 127);
    EXPECT_TRUE(out.blocks.empty());
    fft.filter(x.data(), 1);
    ASSERT_EQ(out.blocks.size(), 1u);
    EXPECT_EQ(out.lengths[0], 128);
    fft.filter(x.data(), 0);
    EXPECT_EQ(out.blocks.size(), 1u);
}

TEST(DFFT, OutputDoesNotDependOnHowTheStreamIsSplit) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(1000);
    for (float& v : x)
        v = dist(rng);

    Signal::Filter::DFFT whole(256), single(256), uneven(256);
    Collector a, b, c;
    whole.addOutput(&a);
    single.addOutput(&b);
    uneven.addOutput(&c);
    whole.filter(x.data(), 1000);
    for (int i = 0; i < 1000; ++i)
        single.filter(&x[i], 1);
    const int cuts[] = {3, 250, 1, 129, 0, 400, 217};
    int pos = 0;
    for (int n : cuts) {
        uneven.filter(x.data() + pos, n);
        pos += n;
    }
    ASSERT_EQ(pos, 1000);
    ASSERT_EQ(a.blocks.size(), 7u);
    EXPECT_EQ(a.blocks, b.blocks);
    EXPECT_EQ(a.blocks, c.blocks);

    // The 104 pending samples complete the next hop with 24 more.
    std::vector<float> more(24, 0.0f);
    whole.filter(more.data(), 23);
    EXPECT_EQ(a.blocks.size(), 7u);
    whole.filter(more.data(), 1);
    EXPECT_EQ(a.blocks.size(), 8u);
}

TEST(DFFT, ConstantInputGoldenBinZero) {
    Signal::Filter::DFFT fft(256);
    Collector out;
    fft.addOutput(&out);
    std::vector<float> ones(512, 1.0f);
    fft.filter(ones.data(), 512);
    ASSERT_EQ(out.blocks.size(), 4u);
    EXPECT_FLOAT_EQ(out.blocks[0][0], 31.875f);
    EXPECT_FLOAT_EQ(out.blocks[1][0], 95.625f);
    EXPECT_FLOAT_EQ(out.blocks[2][0], 127.5f);
    EXPECT_FLOAT_EQ(out.blocks[3][0], 127.5f);
}

TEST(DFFT, KeepsTheAbsoluteRealPartOfEachBin) {
    // 250 Hz at 8000 Hz is bin 8 of a 256-point frame.
    Signal::Filter::DFFT cosFft(256), sinFft(256);
    Collector cosOut, sinOut;
    cosFft.addOutput(&cosOut);
    sinFft.addOutput(&sinOut);
    std::vector<float> c(128 * 8), s(128 * 8);
    for (int i = 0; i < 128 * 8; ++i) {
        c[i] = static_cast<float>(std::cos(2 * M_PI * 250.0 * i / 8000.0));
        s[i] = static_cast<float>(std::sin(2 * M_PI * 250.0 * i / 8000.0));
    }
    cosFft.filter(c.data(), static_cast<int>(c.size()));
    sinFft.filter(s.data(), static_cast<int>(s.size()));
    ASSERT_EQ(cosOut.blocks.size(), 8u);
    for (std::size_t b = 2; b < cosOut.blocks.size(); ++b) {
        EXPECT_NEAR(cosOut.blocks[b][8], 63.751, 1e-3) << "block " << b;
        EXPECT_LT(sinOut.blocks[b][8], 0.001f) << "block " << b;
        for (float v : cosOut.blocks[b])
            EXPECT_GE(v, 0.0f);
    }
}

// Every path the transform can take on this machine: the baseline one always, the wide one where the
// CPU has it (sizes of 64 and more).
TEST(DFFT, MatchesThePlainScalarTransformBitForBit) {
    using Path = Signal::Filter::DFFT::Path;
    for (Path path : {Path::Baseline, Path::Auto}) {
        for (int size : {2, 4, 8, 16, 32, 64, 128, 256, 1024}) {
            std::mt19937 rng(size);
            std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
            Signal::Filter::DFFT fft(size, path);
            if (path == Path::Baseline || size < 64) {
                EXPECT_FALSE(fft.usesWideVectors());
            }
            if (size == 256)
                std::printf("transform of 256 on the %s path\n", fft.usesWideVectors() ? "AVX2" : "baseline");
            Collector out;
            fft.addOutput(&out);
            ScalarReference reference(size);
            const int half = size / 2;
            std::vector<float> x(half);
            for (int hopIndex = 0; hopIndex < 12; ++hopIndex) {
                for (float& v : x)
                    v = hopIndex == 5 ? 1e-30f * dist(rng) : dist(rng) * (hopIndex == 7 ? 30000.0f : 1.0f);
                fft.filter(x.data(), half);
                const std::vector<float> expected = reference.hop(x.data());
                ASSERT_EQ(out.blocks.size(), static_cast<std::size_t>(hopIndex + 1));
                for (int i = 0; i < half; ++i)
                    ASSERT_TRUE(sameBits(out.blocks.back()[i], expected[i]))
                        << "size " << size << (fft.usesWideVectors() ? " wide" : "") << " hop " << hopIndex
                        << " bin " << i << ": " << out.blocks.back()[i] << " vs " << expected[i];
            }
        }
    }
}

TEST(DFFT, SizesOutsideTheDesignStayInsideTheirBuffers) {
    for (int size : {-4, 0, 1, 3, 100}) {
        Signal::Filter::DFFT fft(size);
        Collector out;
        fft.addOutput(&out);
        std::vector<float> x(300, 0.5f);
        fft.filter(x.data(), 300);
        ASSERT_FALSE(out.blocks.empty()) << "size " << size;
        for (int len : out.lengths)
            EXPECT_GE(len, 1);
    }
}
