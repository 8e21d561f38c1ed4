// The CSV of resources/sample.wav, frozen in tests/data/sample.csv: veraxo-analyze must reproduce it byte
// for byte, with the default block and an odd one, and every value in it must be the plain chain's
// (Signal/ChainOracle.h) printed with %.9g, so the frozen file itself cannot hold a wrong result.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/Shared/Signal/ChainOracle.h"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string runCsv(const std::string& extra) {
    char dir[] = "/tmp/veraxo-golden-XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        return std::string();
    const std::string csv = std::string(dir) + "/sample.csv";
    const std::string command = std::string("'") + VERAXO_ANALYZE + "' " + extra + " --csv '" + csv + "' '" +
                                SAMPLE_WAV + "' >/dev/null 2>&1";
    const int raw = std::system(command.c_str());
    const std::string text = WIFEXITED(raw) && WEXITSTATUS(raw) == 0 ? slurp(csv) : std::string();
    std::remove(csv.c_str());
    ::rmdir(dir);
    return text;
}

std::string g9(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
    return text;
}

TEST(GoldenCsv, AnalyzerReproducesTheFrozenCsvOfTheSampleAndItHoldsThePlainChainsValues) {
    const std::string golden = slurp(GOLDEN_CSV);
    ASSERT_FALSE(golden.empty()) << "cannot read " << GOLDEN_CSV;

    EXPECT_TRUE(runCsv("") == golden) << "veraxo-analyze --csv no longer writes tests/data/sample.csv";
    EXPECT_TRUE(runCsv("--block 77") == golden) << "with --block 77";

    SF_INFO info = {};
    SNDFILE* file = sf_open(SAMPLE_WAV, SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(info.channels, 1);
    ASSERT_EQ(info.samplerate, 8000);
    std::vector<short> samples(static_cast<std::size_t>(info.frames));
    ASSERT_EQ(sf_read_short(file, samples.data(), info.frames), info.frames);
    sf_close(file);
    oracle::ChainOracle reference;
    reference.push(samples.data(), static_cast<int>(samples.size()));

    std::istringstream lines(golden);
    std::string line;
    std::getline(lines, line);
    std::size_t frame = 0;
    for (; std::getline(lines, line); ++frame) {
        ASSERT_LT(frame, reference.lies.size()) << "more rows than frames";
        std::ostringstream expected;
        char time[32];
        std::snprintf(time, sizeof time, "%.3f", (frame + 1) * 128 / 8000.0);
        expected << frame << ',' << time << ',' << g9(reference.lies[frame]);
        for (int b = 0; b < oracle::ChainOracle::BANDS; ++b)
            expected << ',' << g9(reference.spectra[frame * oracle::ChainOracle::BANDS + b]);
        ASSERT_EQ(line, expected.str()) << "row of frame " << frame;
    }
    EXPECT_EQ(frame, reference.lies.size());
}

} // namespace
