// Decoding, mixing, rate conversion and the error texts, on files written here with libsndfile.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sndfile/AudioFileReader.h"
#include "tests/support/temp_dir.h"

namespace {

// The files of one test, under /tmp/veraxo-audiofile-XXXXXX.
struct TempDir : veraxo_test::TempDir {
    TempDir() : veraxo_test::TempDir("audiofile") {}
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

// `count` samples of a sine of `amplitude` advancing `step` radians a sample, with uniform noise of up to
// `noise` either way drawn from `rng`.
std::vector<short> noisySine(std::mt19937& rng, std::size_t count, int amplitude, double step, int noise) {
    std::vector<short> x(count);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<short>(std::lrint(amplitude * std::sin(step * i)) +
                                  static_cast<int>(rng() % unsigned(2 * noise + 1)) - noise);
    return x;
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
    writeBytes(dir.file("header.wav"), wav.substr(0, 30));
    writeSound(dir.file("silent.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, std::vector<short>());
    ::mkdir(dir.file("folder.wav").c_str(), 0755);

    const struct {
        std::string name;
        std::string reason;
    } cases[] = {{"missing.wav", "no such file"},     {"folder.wav", "is a directory"},
                 {"empty.wav", "empty file"},         {"text.wav", "not an audio file"},
                 {"header.wav", "not an audio file"}, {"silent.wav", "no audio frames"}};
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

    // A tiny broken MP3 (the first bytes of one, a frame header before noise): our reason, and not a
    // word from the MPEG decoder library on standard error.
    writeSound(dir.file("good.mp3"), SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 8000, 1, x);
    writeBytes(dir.file("start.mp3"), readBytes(dir.file("good.mp3")).substr(0, 300));
    std::string noise = "\xff\xfb\x90";
    std::mt19937 rng(2);
    while (noise.size() < 70)
        noise += static_cast<char>(rng());
    writeBytes(dir.file("noise.mp3"), noise);
    for (const char* name : {"start.mp3", "noise.mp3"}) {
        std::fflush(stderr);
        std::FILE* sink = std::tmpfile();
        ASSERT_NE(sink, nullptr);
        const int saved = ::dup(2);
        ::dup2(::fileno(sink), 2);
        AudioFileReader r;
        const bool opened = r.open(dir.file(name));
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        const long printed = std::ftell(sink);
        std::fclose(sink);
        EXPECT_FALSE(opened) << name;
        EXPECT_EQ(r.errorText(), "not an audio file (no audio in it can be decoded)") << name;
        EXPECT_EQ(printed, 0) << name;
    }
}

// A recording cut short, in each way it happens, gives what it holds up to the break and says what is
// missing; a complete one is never marked.
TEST(AudioFileReader, CutShortInputIsReadUpToTheBreakAndMarked) {
    TempDir dir;
    std::mt19937 rng(3);
    const std::vector<short> x = noisySine(rng, 40000, 9000, 0.03, 1000);
    const auto isPrefix = [&x](const std::vector<short>& y) {
        return y.size() <= x.size() && std::equal(y.begin(), y.end(), x.begin());
    };

    // WAV whose header announces twice what it holds: known at open, from a file and from memory.
    writeSound(dir.file("full.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, x);
    const std::string wav = readBytes(dir.file("full.wav"));
    const std::string half = wav.substr(0, 44 + x.size());
    writeBytes(dir.file("half.wav"), half);
    AudioFileReader cut;
    ASSERT_TRUE(cut.open(dir.file("half.wav"))) << cut.errorText();
    EXPECT_TRUE(cut.truncated());
    EXPECT_EQ(cut.truncation(), "the header announces 80000 bytes of audio, the file holds 40000");
    EXPECT_EQ(cut.missingFrames(), 20000);
    EXPECT_EQ(drain(cut, 999), std::vector<short>(x.begin(), x.begin() + 20000));
    AudioFileReader memory;
    ASSERT_TRUE(memory.openMemory(half.data(), half.size())) << memory.errorText();
    EXPECT_TRUE(memory.truncated());
    EXPECT_EQ(drain(memory, 4096).size(), 20000u);

    // A complete file of each kind is not marked.
    writeSound(dir.file("full.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, x);
    writeSound(dir.file("full.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 8000, 1, x);
    for (const char* name : {"full.wav", "full.flac", "full.ogg"}) {
        AudioFileReader r;
        ASSERT_TRUE(r.open(dir.file(name))) << name << ": " << r.errorText();
        EXPECT_EQ(drain(r, 1000).size(), x.size()) << name;
        EXPECT_FALSE(r.truncated()) << name << ": " << r.truncation();
        EXPECT_EQ(r.missingFrames(), 0) << name;
    }

    // FLAC cut in half, FLAC and Ogg damaged in the middle: the samples before the break, then the end
    // with the shortfall noted, never a read error. (An Ogg cut at a page declares only what it holds.)
    const std::string flac = readBytes(dir.file("full.flac"));
    const std::string ogg = readBytes(dir.file("full.ogg"));
    std::string damagedFlac = flac, damagedOgg = ogg;
    for (std::size_t i = flac.size() / 2; i < flac.size() / 2 + 3000; ++i)
        damagedFlac[i] = static_cast<char>(rng());
    for (std::size_t i = ogg.size() / 2; i < ogg.size() / 2 + 3000; ++i)
        damagedOgg[i] = static_cast<char>(rng());
    writeBytes(dir.file("cut.flac"), flac.substr(0, flac.size() / 2));
    writeBytes(dir.file("damaged.flac"), damagedFlac);
    writeBytes(dir.file("damaged.ogg"), damagedOgg);
    for (const char* name : {"cut.flac", "damaged.flac", "damaged.ogg"}) {
        AudioFileReader r;
        ASSERT_TRUE(r.open(dir.file(name))) << name << ": " << r.errorText();
        const std::vector<short> y = drain(r, 1000);
        EXPECT_TRUE(r.truncated()) << name << " gave " << y.size();
        EXPECT_GT(r.missingFrames(), 0) << name;
        EXPECT_GT(y.size(), x.size() / 4) << name;
        EXPECT_LT(y.size() + static_cast<std::size_t>(r.missingFrames()), x.size() + 1) << name;
        if (name[strlen(name) - 1] == 'c') {
            EXPECT_TRUE(isPrefix(std::vector<short>(y.begin(), y.begin() + x.size() / 4))) << name;
        }
    }

    // A file that shrinks while it is read.
    const std::string shrinking = dir.file("shrinking.wav");
    writeSound(shrinking, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, x);
    AudioFileReader r;
    ASSERT_TRUE(r.open(shrinking)) << r.errorText();
    std::vector<short> start(1000);
    ASSERT_EQ(r.read(start.data(), 1000), 1000);
    ASSERT_EQ(::truncate(shrinking.c_str(), 44 + 2 * 36000), 0);
    const std::vector<short> rest = drain(r, 1000);
    start.insert(start.end(), rest.begin(), rest.end());
    EXPECT_EQ(start, std::vector<short>(x.begin(), x.begin() + 36000));
    EXPECT_TRUE(r.truncated());
    EXPECT_EQ(r.truncation(), "only 36000 of the 40000 frames the header declares were decoded");
    EXPECT_EQ(r.missingFrames(), 4000);

    // Through a FIFO, which cannot be measured: a WAV cut short is found at its end, while the size
    // placeholder of a streaming recorder (0xFFFFFFFF) declares no length and is never marked.
    std::string streamed = wav;
    streamed.replace(4, 4, "\xff\xff\xff\xff");
    streamed.replace(40, 4, "\xff\xff\xff\xff");
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string bytes;
        std::size_t samples;
        bool truncated;
    } piped[] = {{half, 20000, true}, {streamed, x.size(), false}};
    for (const auto& p : piped) {
        std::thread writer([&] { writeBytes(fifo, p.bytes); });
        AudioFileReader fromPipe;
        const bool opened = fromPipe.open(fifo);
        const std::vector<short> y = opened ? drain(fromPipe, 1000) : std::vector<short>();
        writer.join();
        ASSERT_TRUE(opened) << fromPipe.errorText();
        EXPECT_EQ(y.size(), p.samples);
        EXPECT_TRUE(isPrefix(y));
        EXPECT_EQ(fromPipe.truncated(), p.truncated) << fromPipe.truncation();
    }
}

// Each reader of libsndfile tells a cut-short file in words of its own (or not at all: NIST's count
// is in its text header, an Ogg stream lacks its last page, a CAF file is refused as malformed).
TEST(AudioFileReader, EveryFormatCutShortIsReadUpToTheBreakAndMarkedButNeverWhenIntact) {
    TempDir dir;
    std::mt19937 rng(11);
    const std::vector<short> x = noisySine(rng, 24000, 7000, 0.05, 400);
    const struct {
        const char* name;
        int format;
        bool exact; // the samples come back as written
    } formats[] = {
        {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true},
        {"w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, true},
        {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, true},
        {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16, true},
        {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, true},
        {"aifc", SF_FORMAT_AIFF | SF_FORMAT_ULAW, false},
        {"nist", SF_FORMAT_NIST | SF_FORMAT_PCM_16, true},
        {"voc", SF_FORMAT_VOC | SF_FORMAT_PCM_16, true},
        {"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, true},
        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true},
        {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
        {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, false},
        {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, false},
    };
    for (const auto& f : formats) {
        const std::string full = dir.file(std::string("full.") + f.name);
        writeSound(full, f.format, 8000, 1, x);
        AudioFileReader intact;
        ASSERT_TRUE(intact.open(full)) << f.name << ": " << intact.errorText();
        const std::vector<short> all = drain(intact, 1000);
        EXPECT_FALSE(intact.truncated()) << f.name << ": " << intact.truncation();
        if (f.exact)
            EXPECT_EQ(all, x) << f.name;
        else
            EXPECT_GT(all.size(), x.size() * 9 / 10) << f.name;

        const std::string bytes = readBytes(full);
        const std::string cut = dir.file(std::string("cut.") + f.name);
        writeBytes(cut, bytes.substr(0, bytes.size() * 6 / 10));
        AudioFileReader r;
        ASSERT_TRUE(r.open(cut)) << f.name << ": " << r.errorText();
        const std::vector<short> y = drain(r, 777);
        EXPECT_TRUE(r.truncated()) << f.name << " gave " << y.size() << " of " << all.size();
        EXPECT_GT(y.size(), all.size() / 4) << f.name;
        EXPECT_LT(y.size(), all.size() * 9 / 10) << f.name;
        if (f.exact) {
            EXPECT_TRUE(std::equal(y.begin(), y.end(), x.begin())) << f.name;
        }

        // Through a pipe, which cannot be measured: the same samples and the same verdict, where the
        // stream itself can tell (a VOC's blocks cannot; an MPEG decoder loses the frame it breaks in).
        const std::string fifo = dir.file(std::string("pipe.") + f.name);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        for (const std::string* source : {&full, &cut}) {
            std::thread writer([&] { writeBytes(fifo, readBytes(*source)); });
            AudioFileReader piped;
            const bool opened = piped.open(fifo);
            const std::vector<short> z = opened ? drain(piped, 1000) : std::vector<short>();
            writer.join();
            ASSERT_TRUE(opened) << f.name << ": " << piped.errorText();
            const bool isCut = source == &cut;
            if (std::strcmp(f.name, "mp3") != 0) {
                EXPECT_EQ(z, isCut ? y : all) << f.name << (isCut ? " cut" : "");
            }
            if (!isCut || std::strcmp(f.name, "voc") != 0) {
                EXPECT_EQ(piped.truncated(), isCut) << f.name << ": " << piped.truncation();
            }
        }
    }

    // An MPEG stream without a Xing or Info frame declares only an estimate of its length, which is
    // never taken for a shortfall, at any rate.
    for (int rate : {11025, 22050, 44100}) {
        const std::string mp3 = dir.file("plain" + std::to_string(rate) + ".mp3");
        writeSound(mp3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, rate, 1, x);
        std::string bytes = readBytes(mp3);
        for (const char* tag : {"Xing", "Info"})
            for (std::size_t at = bytes.find(tag); at != std::string::npos; at = bytes.find(tag, at))
                bytes.replace(at, 4, "....");
        writeBytes(mp3, bytes);
        AudioFileReader r;
        ASSERT_TRUE(r.open(mp3)) << rate << ": " << r.errorText();
        EXPECT_GT(drain(r, 1000).size(), 0u) << rate;
        EXPECT_FALSE(r.truncated()) << rate << ": " << r.truncation();
    }
}

// RF64 and W64 sizes are 64-bit: a file past 4 GiB (sparse: silence) is read to its very end (the
// RF64 one; the W64 one as far as its first samples, to keep the test short), and one that holds less
// than such a header announces is marked.
TEST(AudioFileReader, SixtyFourBitHeadersReachPastFourGibibytes) {
    TempDir dir;
    const long long frames = (4LL << 30) / 2 + 123457;
    for (const char* kind : {"rf64", "w64"}) {
        const std::string path = dir.file(std::string("long.") + kind);
        writeSound(path, (kind[0] == 'r' ? SF_FORMAT_RF64 : SF_FORMAT_W64) | SF_FORMAT_PCM_16, 8000, 1,
                   std::vector<short>(1, 0));
        std::string head = readBytes(path);
        const auto put64 = [&head](std::size_t at, long long v) {
            for (int i = 0; i < 8; ++i)
                head[at + i] = static_cast<char>(v >> (8 * i));
        };
        // The audio starts where the one sample written stands, at the end of the header.
        const long long audio = static_cast<long long>(head.size()) - 2;
        head.resize(static_cast<std::size_t>(audio));
        if (kind[0] == 'r') {
            const std::size_t ds64 = head.find("ds64");
            ASSERT_NE(ds64, std::string::npos);
            put64(ds64 + 8, audio - 8 + 2 * frames);
            put64(ds64 + 16, 2 * frames);
            put64(ds64 + 24, frames);
        } else {
            put64(16, audio + 2 * frames);
            put64(head.size() - 8, 24 + 2 * frames);
        }
        writeBytes(path, head);
        const long long held = kind[0] == 'r' ? frames : frames - 1000;
        ASSERT_EQ(::truncate(path.c_str(), audio + 2 * held), 0);
        AudioFileReader r;
        ASSERT_TRUE(r.open(path)) << kind << ": " << r.errorText();
        EXPECT_EQ(r.sourceFrames(), held) << kind;
        EXPECT_EQ(r.truncated(), held < frames) << kind << ": " << r.truncation();
        std::vector<short> block(1 << 20);
        long long total = 0;
        bool silent = true;
        for (int n; (n = r.read(block.data(), static_cast<int>(block.size()))) > 0 &&
                    (kind[0] == 'r' || total == 0);)
            total += n, silent = silent && std::all_of(block.begin(), block.begin() + n,
                                                       [](short v) { return v == 0; });
        EXPECT_EQ(total, kind[0] == 'r' ? held : static_cast<long long>(block.size())) << kind;
        EXPECT_TRUE(silent) << kind;
    }
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
