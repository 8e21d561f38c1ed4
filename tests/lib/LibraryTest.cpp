// libveraxo through its C interface, linked as the shared library: the frames equal veraxo-analyze's
// CSV whatever the split of the samples and whatever the file's format, and bad arguments are refused
// with nothing consumed.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <sndfile.h>
#include <unistd.h>

#include "include/veraxo/veraxo.h"

namespace {

typedef std::array<float, 33> Row;

// The lie_level and s0..s31 columns of `veraxo-analyze --csv -`; %.9g round-trips every float. Without
// a place for the exit status, the command must succeed.
std::vector<Row> cliRows(const std::string& input, int* status = 0) {
    const std::string command = std::string("'") + VERAXO_ANALYZE + "' --csv - '" + input + "' 2>/dev/null";
    std::FILE* p = ::popen(command.c_str(), "r");
    std::vector<Row> rows;
    if (!p)
        return rows;
    char line[8192];
    bool header = true;
    while (std::fgets(line, sizeof line, p)) {
        if (header) {
            header = false;
            continue;
        }
        char* s = std::strchr(std::strchr(line, ',') + 1, ',') + 1;
        Row r;
        for (float& v : r) {
            v = std::strtof(s, &s);
            ++s;
        }
        rows.push_back(r);
    }
    const int raw = ::pclose(p);
    if (status)
        *status = raw;
    else
        EXPECT_EQ(raw, 0) << command;
    return rows;
}

Row row(const vx_frame& f) {
    Row r;
    r[0] = f.lie_level;
    std::memcpy(&r[1], f.spectrum, sizeof f.spectrum);
    return r;
}

std::vector<short> readMono(const std::string& path) {
    SF_INFO info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<short> x;
    if (!f)
        return x;
    x.resize(static_cast<std::size_t>(info.frames));
    x.resize(static_cast<std::size_t>(sf_read_short(f, x.data(), info.frames)));
    sf_close(f);
    return x;
}

// Pushes the samples in pieces of the given sizes (cycled), with exactly count / 128 + 1 frames of room.
std::vector<Row> pushAll(const std::vector<short>& x, const std::vector<std::size_t>& sizes) {
    vx_engine* engine = vx_engine_new();
    std::vector<Row> rows;
    if (!engine)
        return rows;
    std::size_t done = 0;
    for (std::size_t k = 0; done < x.size(); ++k) {
        const std::size_t n = std::min(sizes[k % sizes.size()], x.size() - done);
        std::vector<vx_frame> frames(n / 128 + 1);
        const long got = vx_engine_push(engine, x.data() + done, n, frames.data(), frames.size());
        EXPECT_GE(got, 0);
        for (long i = 0; i < got; ++i)
            rows.push_back(row(frames[static_cast<std::size_t>(i)]));
        done += n;
    }
    vx_engine_free(engine);
    return rows;
}

std::vector<Row> analyzeRows(const std::string& path) {
    vx_frame* frames = 0;
    std::size_t count = 0;
    char err[256] = "untouched";
    std::vector<Row> rows;
    EXPECT_EQ(vx_analyze_file(path.c_str(), &frames, &count, err, sizeof err), 0) << err;
    EXPECT_STREQ(err, "");
    for (std::size_t i = 0; i < count; ++i)
        rows.push_back(row(frames[i]));
    vx_frames_free(frames);
    return rows;
}

class TempFile {
public:
    explicit TempFile(const char* suffix) {
        char name[] = "/tmp/veraxo-lib-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0)
            ::close(fd);
        _base = name;
        _path = _base + suffix;
    }
    ~TempFile() {
        std::remove(_base.c_str());
        std::remove(_path.c_str());
    }
    const std::string& path() const { return _path; }

private:
    std::string _base;
    std::string _path;
};

} // namespace

TEST(Library, FramesEqualTheCsvWhateverTheSplitAndFormat) {
    const std::vector<Row> expected = cliRows(SAMPLE_WAV);
    const std::vector<short> x = readMono(SAMPLE_WAV);
    ASSERT_EQ(expected.size(), x.size() / 128);
    ASSERT_GT(expected.size(), 1000u);

    EXPECT_TRUE(pushAll(x, {x.size()}) == expected) << "one push";
    EXPECT_TRUE(pushAll(x, {1, 0, 127, 129, 255, 4097, 3, 128, 20000, 64}) == expected) << "uneven pieces";
    EXPECT_TRUE(analyzeRows(SAMPLE_WAV) == expected) << "vx_analyze_file";

    // Stereo at 22050 Hz: decoding (mix, rate conversion) goes the CLI's way too.
    TempFile stereo(".wav");
    SF_INFO info = {};
    info.samplerate = 22050;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(stereo.path().c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 1500.0);
    std::vector<short> interleaved(2 * 22050 * 3);
    for (std::size_t i = 0; i < interleaved.size(); i += 2) {
        const double t = static_cast<double>(i / 2) / 22050;
        interleaved[i] = static_cast<short>(std::lrint(8000 * std::sin(2 * M_PI * 220 * t) + noise(rng)));
        interleaved[i + 1] = static_cast<short>(std::lrint(noise(rng)));
    }
    sf_write_short(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size()));
    sf_close(f);
    const std::vector<Row> stereoRows = cliRows(stereo.path());
    ASSERT_GT(stereoRows.size(), 100u);
    EXPECT_TRUE(analyzeRows(stereo.path()) == stereoRows);

    // Fewer samples than one hop: success with no frame, as in the command.
    TempFile tiny(".wav");
    info = {};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    f = sf_open(tiny.path().c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_short(f, interleaved.data(), 127);
    sf_close(f);
    EXPECT_TRUE(cliRows(tiny.path()).empty());
    EXPECT_TRUE(analyzeRows(tiny.path()).empty());

    // A WAV cut short: whatever the command makes of it, the library makes the same.
    TempFile cut(".wav");
    {
        std::FILE* in = std::fopen(SAMPLE_WAV, "rb");
        std::FILE* out = std::fopen(cut.path().c_str(), "wb");
        ASSERT_TRUE(in && out);
        std::vector<char> bytes(100001);
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(in);
        std::fclose(out);
    }
    int status = -1;
    const std::vector<Row> cutRows = cliRows(cut.path(), &status);
    vx_frame* frames = 0;
    std::size_t count = 0;
    char err[256] = "";
    const int result = vx_analyze_file(cut.path().c_str(), &frames, &count, err, sizeof err);
    EXPECT_EQ(result == 0, status == 0) << err;
    std::vector<Row> libRows;
    for (std::size_t i = 0; i < count; ++i)
        libRows.push_back(row(frames[i]));
    if (status == 0)
        EXPECT_TRUE(libRows == cutRows);
    else
        EXPECT_EQ(std::string(err).rfind(cut.path() + ": ", 0), 0u) << err;
    vx_frames_free(frames);
}

TEST(Library, BadArgumentsAreRefusedWithNothingConsumed) {
    const std::vector<Row> expected = cliRows(SAMPLE_WAV);
    const std::vector<short> x = readMono(SAMPLE_WAV);
    ASSERT_GT(x.size(), 2000u);
    std::vector<vx_frame> room(x.size() / 128 + 1);
    std::vector<Row> rows;

    EXPECT_EQ(vx_engine_push(0, x.data(), 10, room.data(), room.size()), -1);
    vx_engine_free(0);
    vx_engine* engine = vx_engine_new();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(vx_engine_push(engine, 0, 10, room.data(), room.size()), -1);
    EXPECT_EQ(vx_engine_push(engine, x.data(), 10, 0, 5), -1);
    // Valid empty cases: no samples, or no room where none is needed.
    EXPECT_EQ(vx_engine_push(engine, 0, 0, 0, 0), 0);
    EXPECT_EQ(vx_engine_push(engine, x.data(), 100, 0, 0), 0);
    // 28 more samples close the first frame: no room is too little.
    EXPECT_EQ(vx_engine_push(engine, x.data() + 100, 28, 0, 0), -1);
    EXPECT_EQ(vx_engine_push(engine, x.data() + 100, 28, room.data(), 1), 1);
    rows.push_back(row(room[0]));
    // 1000 samples from an offset of 0 in the hop complete 7 frames; 6 is too little.
    EXPECT_EQ(vx_engine_push(engine, x.data() + 128, 1000, room.data(), 6), -1);
    const long rest = vx_engine_push(engine, x.data() + 128, x.size() - 128, room.data(), room.size());
    ASSERT_GE(rest, 0);
    for (long i = 0; i < rest; ++i)
        rows.push_back(row(room[static_cast<std::size_t>(i)]));
    vx_engine_free(engine);
    EXPECT_TRUE(rows == expected);

    // Files: one line naming the file and the reason, truncated to the room given.
    vx_frame* frames = reinterpret_cast<vx_frame*>(&room[0]);
    std::size_t count = 99;
    char err[256];
    EXPECT_NE(vx_analyze_file("/nonexistent/voice.wav", &frames, &count, err, sizeof err), 0);
    EXPECT_EQ(frames, nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(std::string(err).rfind("/nonexistent/voice.wav: ", 0), 0u) << err;
    EXPECT_GT(std::strlen(err), std::strlen("/nonexistent/voice.wav: "));
    char small[8];
    EXPECT_NE(vx_analyze_file("/tmp", &frames, &count, small, sizeof small), 0);
    EXPECT_EQ(std::strlen(small), sizeof small - 1);
    EXPECT_EQ(std::string(small).rfind("/tmp: ", 0), 0u) << small;
    EXPECT_NE(vx_analyze_file("/nonexistent/voice.wav", &frames, &count, 0, 0), 0);
    EXPECT_NE(vx_analyze_file(SAMPLE_WAV, 0, &count, err, sizeof err), 0);
    EXPECT_NE(std::strlen(err), 0u);
    EXPECT_NE(vx_analyze_file(0, &frames, &count, err, sizeof err), 0);
    EXPECT_EQ(std::strchr(err, '\n'), nullptr);
    vx_frames_free(0);
    EXPECT_STRNE(vx_version(), "");
}
