// The fast formatting must print exactly what printf would.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "report/CsvWriter.h"

namespace {

std::string fast(float v) {
    char buf[64];
    return std::string(buf, CsvWriter::formatValue(buf, buf + sizeof buf, v));
}

std::string printed(float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
    return buf;
}

} // namespace

TEST(CsvWriter, ValuesMatchPrintfG9) {
    const float special[] = {0.0f,
                             -0.0f,
                             1.0f,
                             -1.0f,
                             0.1f,
                             1.78f,
                             127.5f,
                             1e-5f,
                             1e-4f,
                             123456789.0f,
                             1e9f,
                             std::numeric_limits<float>::min(),
                             std::numeric_limits<float>::denorm_min(),
                             std::numeric_limits<float>::max(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity()};
    for (float v : special)
        EXPECT_EQ(fast(v), printed(v)) << v;

    std::mt19937 rng(11);
    std::uniform_int_distribution<unsigned> bits;
    for (int i = 0; i < 200000; ++i) {
        const unsigned b = bits(rng);
        float v;
        std::memcpy(&v, &b, sizeof v);
        if (std::isnan(v))
            continue;
        ASSERT_EQ(fast(v), printed(v)) << "bits " << b;
    }

    // The range the integer form covers (2^-24 up to 1e9), densely: random values, ties at the ninth
    // digit (rounded to even) and the neighbours of every power of ten, where the digit count changes.
    std::uniform_int_distribution<unsigned> inRange(0x33700000u, 0x4e800000u);
    for (int i = 0; i < 300000; ++i) {
        const unsigned b = inRange(rng) | (i % 2 ? 0x80000000u : 0u);
        float v;
        std::memcpy(&v, &b, sizeof v);
        ASSERT_EQ(fast(v), printed(v)) << "bits " << b;
    }
    for (float tie : {524288.0625f, 524288.1875f, -524289.3125f, 0x1p-24f, 0x1.fffffep+29f})
        EXPECT_EQ(fast(tie), printed(tie)) << tie;
    for (int k = -9; k <= 10; ++k) {
        float v = static_cast<float>(std::pow(10.0, k));
        for (int i = 0; i < 40; ++i)
            v = std::nextafter(v, 0.0f);
        for (int i = 0; i < 80; ++i) {
            ASSERT_EQ(fast(v), printed(v)) << v;
            v = std::nextafter(v, 1e30f);
        }
    }
}

TEST(CsvWriter, TimeMatchesPrintfF3) {
    for (long long frame = 0; frame < 3000000; frame += frame < 5000 ? 1 : 997) {
        char a[64], b[64];
        const std::string mine(a, CsvWriter::formatTime(a, a + sizeof a, frame));
        std::snprintf(b, sizeof b, "%.3f", (frame + 1) * 128 / 8000.0);
        ASSERT_EQ(mine, b) << frame;
    }
}

TEST(CsvWriter, RowLayout) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    CsvWriter writer(out);
    writer.writeHeader(3);
    const float bands[3] = {0.5f, 0.0f, 2.25f};
    writer.writeRow(0, -0.125f, bands, 3);
    writer.writeRow(61, 0.1f, bands, 3);
    EXPECT_FALSE(writer.failed());
    std::fclose(out);
    EXPECT_EQ(std::string(text, size), "frame,time_s,lie_level,s0,s1,s2\n"
                                       "0,0.016,-0.125,0.5,0,2.25\n"
                                       "61,0.992,0.100000001,0.5,0,2.25\n");
    std::free(text);
}
