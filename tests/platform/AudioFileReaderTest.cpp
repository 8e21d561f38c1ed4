// Decoding, mixing, rate conversion and the error texts, on files written here with libsndfile.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/AudioFileReader.h"

namespace {

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/veraxo-audiofile-XXXXXX";
        _path = ::mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(_path); }
    std::string file(const std::string& name) const { return _path + "/" + name; }

private:
    std::string _path;
};

template <class T>
void writeSound(const std::string& path, int format, int rate, int channels,
                const std::vector<T>& interleaved) {
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    if constexpr (sizeof(T) == sizeof(short))
        sf_writef_short(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
    else
        sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
    sf_close(f);
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything the reader yields, in reads of `chunk` samples.
std::vector<short> drain(AudioFileReader& r, int chunk) {
    std::vector<short> all, buf(chunk);
    int n;
    while ((n = r.read(buf.data(), chunk)) > 0)
        all.insert(all.end(), buf.begin(), buf.begin() + n);
    EXPECT_EQ(n, 0) << r.errorText();
    return all;
}

std::vector<short> everyValue() {
    std::vector<short> x;
    for (int v = -32768; v <= 32767; v += 3)
        x.push_back(static_cast<short>(v));
    x.push_back(32767);
    x.push_back(-32768);
    return x;
}

} // namespace

TEST(AudioFileReader, SixteenBitMonoAt8kHzPassesUnchanged) {
    TempDir dir;
    const std::vector<short> x = everyValue();
    const std::string path = dir.file("mono.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, x);
    for (int chunk : {1, 333, 4096, 100000}) {
        AudioFileReader r;
        ASSERT_TRUE(r.open(path)) << r.errorText();
        EXPECT_EQ(r.expectedSamples(), static_cast<long long>(x.size()));
        EXPECT_EQ(drain(r, chunk), x) << "chunk " << chunk;
    }

    // The same bytes from memory, and as FLAC, which goes the float way.
    const std::string bytes = readBytes(path);
    AudioFileReader memory;
    ASSERT_TRUE(memory.openMemory(bytes.data(), bytes.size())) << memory.errorText();
    EXPECT_EQ(drain(memory, 1000), x);

    const std::string flac = dir.file("mono.flac");
    writeSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, x);
    AudioFileReader fromFlac;
    ASSERT_TRUE(fromFlac.open(flac)) << fromFlac.errorText();
    EXPECT_EQ(drain(fromFlac, 1000), x);
}

TEST(AudioFileReader, ChannelsAreAveragedAndRounded) {
    TempDir dir;
    const short pairs[][2] = {{3, 4},         {1, 2},           {-3, -4},       {100, -100},
                              {32767, 32767}, {-32768, -32768}, {32767, -32768}};
    std::vector<short> stereo;
    for (const auto& p : pairs) {
        stereo.push_back(p[0]);
        stereo.push_back(p[1]);
    }
    const std::string path = dir.file("stereo.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 2, stereo);
    AudioFileReader r;
    ASSERT_TRUE(r.open(path)) << r.errorText();
    EXPECT_EQ(r.sourceChannels(), 2);
    const std::vector<short> mono = drain(r, 64);
    ASSERT_EQ(mono.size(), std::size(pairs));
    for (std::size_t i = 0; i < mono.size(); ++i)
        EXPECT_EQ(mono[i], static_cast<short>(std::lrint((pairs[i][0] + pairs[i][1]) / 2.0))) << i;
}

TEST(AudioFileReader, FloatSamplesAreClippedTo16Bits) {
    TempDir dir;
    const std::vector<float> x = {0.25f, 1.5f, -1.5f, 1.0f, -1.0f, 0.0f};
    const std::string path = dir.file("float.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, x);
    AudioFileReader r;
    ASSERT_TRUE(r.open(path)) << r.errorText();
    EXPECT_EQ(drain(r, 16), (std::vector<short>{8192, 32767, -32768, 32767, -32768, 0}));
}

TEST(AudioFileReader, OtherRatesAreConvertedTo8kHz) {
    TempDir dir;
    const int rate = 44100;
    std::vector<short> x(rate * 2);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<short>(std::lrint(16000.0 * std::sin(2 * M_PI * 440.0 * i / rate)));
    const std::string path = dir.file("cd.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, x);
    AudioFileReader r;
    ASSERT_TRUE(r.open(path)) << r.errorText();
    EXPECT_EQ(r.sourceRate(), rate);
    EXPECT_EQ(r.expectedSamples(), 16000);
    const std::vector<short> y = drain(r, 1000);
    EXPECT_NEAR(static_cast<double>(y.size()), 16000.0, 2.0);

    // Amplitude and pitch survive: look at the steady middle second.
    double power = 0;
    int crossings = 0;
    for (int i = 4000; i < 12000; ++i) {
        power += static_cast<double>(y[i]) * y[i];
        crossings += (y[i - 1] < 0) != (y[i] < 0) ? 1 : 0;
    }
    EXPECT_NEAR(std::sqrt(power / 8000), 16000 / std::sqrt(2.0), 200);
    EXPECT_NEAR(crossings, 880, 2);
}

TEST(AudioFileReader, HeaderlessInputIs16BitLittleEndian) {
    TempDir dir;
    const std::string bytes("\x01\x00\xff\xff\x00\x80\xff\x7f\x05", 9);
    const std::vector<short> expected = {1, -1, -32768, 32767};
    const std::string raw = dir.file("take.RAW");
    writeBytes(raw, bytes);
    AudioFileReader byName;
    ASSERT_TRUE(byName.open(raw)) << byName.errorText();
    EXPECT_EQ(drain(byName, 3), expected);

    const std::string other = dir.file("take.pcm");
    writeBytes(other, bytes);
    AudioFileReader guessed;
    EXPECT_FALSE(guessed.open(other));
    AudioFileReader forced;
    ASSERT_TRUE(forced.open(other, true)) << forced.errorText();
    EXPECT_EQ(drain(forced, 100), expected);

    AudioFileReader memory;
    ASSERT_TRUE(memory.openMemory(bytes.data(), bytes.size(), true)) << memory.errorText();
    EXPECT_EQ(drain(memory, 100), expected);
}

TEST(AudioFileReader, BadInputGivesAClearReason) {
    TempDir dir;
    const std::vector<short> x(4000, 1000);
    const std::string good = dir.file("good.wav");
    writeSound(good, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, x);
    const std::string wav = readBytes(good);

    writeBytes(dir.file("empty.wav"), "");
    writeBytes(dir.file("text.wav"), "frame,time_s\nthis is not sound at all\n");
    writeBytes(dir.file("truncated.wav"), wav.substr(0, wav.size() / 2));
    writeBytes(dir.file("header.wav"), wav.substr(0, 30));
    writeSound(dir.file("silent.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, std::vector<short>());
    ::mkdir(dir.file("folder.wav").c_str(), 0755);

    const struct {
        std::string name;
        std::string reason;
    } cases[] = {{"missing.wav", "no such file"},  {"folder.wav", "is a directory"},
                 {"empty.wav", "empty file"},      {"text.wav", "not an audio file"},
                 {"truncated.wav", "truncated"},   {"header.wav", "not an audio file"},
                 {"silent.wav", "no audio frames"}};
    for (const auto& c : cases) {
        AudioFileReader r;
        EXPECT_FALSE(r.open(dir.file(c.name))) << c.name;
        EXPECT_NE(r.errorText().find(c.reason), std::string::npos) << c.name << ": " << r.errorText();
        EXPECT_FALSE(r.isOpen());
        short s;
        EXPECT_EQ(r.read(&s, 1), -1);
    }

    AudioFileReader memory;
    EXPECT_FALSE(memory.openMemory(wav.data(), 0));
    EXPECT_EQ(memory.errorText(), "empty file");
    const std::string half = wav.substr(0, wav.size() / 2);
    EXPECT_FALSE(memory.openMemory(half.data(), half.size()));
    EXPECT_NE(memory.errorText().find("truncated"), std::string::npos) << memory.errorText();
}

TEST(AudioFileReader, DamagedHeadersNeverCrash) {
    TempDir dir;
    const std::string path = dir.file("good.wav");
    writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 2, std::vector<short>(2000, 300));
    const std::string wav = readBytes(path);
    std::mt19937 rng(17);
    int opened = 0;
    for (int round = 0; round < 300; ++round) {
        std::string damaged = wav;
        for (int hits = 0; hits < 3; ++hits)
            damaged[rng() % 64] = static_cast<char>(rng());
        AudioFileReader r;
        if (!r.openMemory(damaged.data(), damaged.size())) {
            EXPECT_FALSE(r.errorText().empty());
            continue;
        }
        ++opened;
        std::vector<short> buf(777);
        long long total = 0;
        int n;
        while ((n = r.read(buf.data(), 777)) > 0 && total < 10000000)
            total += n;
        // Reading ends, by the end of the input or by an error that says what happened.
        EXPECT_LT(total, 10000000);
        if (n < 0) {
            EXPECT_FALSE(r.errorText().empty());
        }
    }
    EXPECT_GT(opened, 0);
}
