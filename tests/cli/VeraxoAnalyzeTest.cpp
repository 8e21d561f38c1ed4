// The veraxo-analyze executable end to end: CSV contents against the engine run in-process, block-size
// invariance, where the summary goes, and every kind of bad input with its exit status and message.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sndfile.h>
#include <sys/wait.h>

#include "Shared/VeraxoEngine.h"
#include "tests/support/speech_like.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/veraxo-analyze-XXXXXX";
        _path = ::mkdtemp(name);
    }
    ~TempDir() { fs::remove_all(_path); }
    std::string file(const std::string& name) const { return _path + "/" + name; }
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const auto& e : fs::directory_iterator(_path))
            n.push_back(e.path().filename().string());
        std::sort(n.begin(), n.end());
        return n;
    }

private:
    std::string _path;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome analyze(const TempDir& dir, const std::string& args) {
    const std::string out = dir.file("stdout.txt");
    const std::string err = dir.file("stderr.txt");
    const std::string command =
        std::string("'") + VERAXO_ANALYZE + "' " + args + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    fs::remove(out);
    fs::remove(err);
    return r;
}

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

void writeWav(const std::string& path, const std::vector<short>& x) {
    SF_INFO info = {};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_short(f, x.data(), static_cast<sf_count_t>(x.size()));
    sf_close(f);
}

// Tones and noise bursts with pauses, so every column of the CSV moves.
std::vector<short> speechLike(int n) {
    veraxo_test::SpeechLike p;
    p.seed = 5;
    p.burst = 1500;
    p.toneHz = 300.0;
    p.tone = 6000.0;
    p.noise = 2000.0;
    p.pauseNoise = 30.0;
    return veraxo_test::speechLike(n, p);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> l;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        l.push_back(line);
    return l;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> f;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ',');)
        f.push_back(field);
    return f;
}

struct EngineFrames {
    void lie(const Signal::Sample* d, int) { lieLevels.push_back(d[0]); }
    void spectrum(const Signal::Sample* d, int n) { spectra.emplace_back(d, d + n); }
    std::vector<float> lieLevels;
    std::vector<std::vector<float>> spectra;
};

} // namespace

TEST(VeraxoAnalyze, CsvHoldsEveryFrameOfTheEngine) {
    TempDir dir;
    const int n = 128 * 300 + 77;
    const std::vector<short> x = speechLike(n);
    writeWav(dir.file("in.wav"), x);
    const Outcome r = analyze(dir, "--csv " + quoted(dir.file("out.csv")) + " " + quoted(dir.file("in.wav")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("frames: 300\n"), std::string::npos) << r.out;

    VeraxoEngine engine;
    EngineFrames expected;
    typedef brel::callback2<void, const Signal::Sample*, int> Callback;
    engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, Callback(&expected, &EngineFrames::lie));
    engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, Callback(&expected, &EngineFrames::spectrum));
    engine.input(x.data(), n);

    const std::vector<std::string> rows = lines(slurp(dir.file("out.csv")));
    ASSERT_EQ(rows.size(), 301u);
    std::string header = "frame,time_s,lie_level";
    for (int i = 0; i < 32; ++i)
        header += ",s" + std::to_string(i);
    EXPECT_EQ(rows[0], header);
    for (int frame = 0; frame < 300; ++frame) {
        const std::vector<std::string> f = fields(rows[frame + 1]);
        ASSERT_EQ(f.size(), 35u) << frame;
        EXPECT_EQ(f[0], std::to_string(frame));
        char time[32];
        std::snprintf(time, sizeof time, "%.3f", (frame + 1) * 128 / 8000.0);
        EXPECT_EQ(f[1], time);
        // %.9g gives back every float exactly.
        EXPECT_EQ(std::strtof(f[2].c_str(), nullptr), expected.lieLevels[frame]) << frame;
        for (int b = 0; b < 32; ++b)
            ASSERT_EQ(std::strtof(f[3 + b].c_str(), nullptr), expected.spectra[frame][b])
                << frame << " " << b;
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.wav", "out.csv"}));
}

TEST(VeraxoAnalyze, OutputDoesNotDependOnTheBlockLength) {
    TempDir dir;
    const Outcome reference = analyze(dir, "--csv - " + quoted(SAMPLE_WAV));
    ASSERT_EQ(reference.status, 0) << reference.err;
    EXPECT_GT(lines(reference.out).size(), 1000u);
    for (const char* block : {"1", "7", "128", "1000000"}) {
        const Outcome r = analyze(dir, std::string("--block ") + block + " --csv - " + quoted(SAMPLE_WAV));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == reference.out) << "block " << block;
        EXPECT_EQ(r.err, reference.err) << "block " << block;
    }
}

TEST(VeraxoAnalyze, SummaryGoesWhereTheCsvDoesNot) {
    TempDir dir;
    const Outcome alone = analyze(dir, quoted(SAMPLE_WAV));
    ASSERT_EQ(alone.status, 0);
    EXPECT_EQ(alone.err, "");
    EXPECT_NE(alone.out.find("duration: 18.532 s"), std::string::npos) << alone.out;
    EXPECT_NE(alone.out.find("frames: 1158\n"), std::string::npos) << alone.out;
    EXPECT_NE(alone.out.find("mean lie level: "), std::string::npos);
    EXPECT_NE(alone.out.find("peak lie level: "), std::string::npos);
    EXPECT_NE(alone.out.find("frames above 0.7: "), std::string::npos);

    const Outcome piped = analyze(dir, "--csv - " + quoted(SAMPLE_WAV));
    ASSERT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, alone.out);
    EXPECT_EQ(piped.out.compare(0, 22, "frame,time_s,lie_level"), 0);

    // Shorter than one hop: no frame, still a summary.
    std::vector<short> tiny(100, 5);
    writeWav(dir.file("tiny.wav"), tiny);
    const Outcome shortRun = analyze(dir, "--csv - " + quoted(dir.file("tiny.wav")));
    ASSERT_EQ(shortRun.status, 0);
    EXPECT_EQ(lines(shortRun.out).size(), 1u);
    EXPECT_NE(shortRun.err.find("frames: 0\n"), std::string::npos) << shortRun.err;
}

TEST(VeraxoAnalyze, BadInputFailsWithOneLineNamingTheFile) {
    TempDir dir;
    writeWav(dir.file("good.wav"), speechLike(8000));
    const std::string wav = slurp(dir.file("good.wav"));
    std::ofstream(dir.file("empty.wav")).close();
    std::ofstream(dir.file("notes.txt")) << "this is not sound\n";
    std::ofstream(dir.file("truncated.wav"), std::ios::binary) << wav.substr(0, wav.size() / 3);
    writeWav(dir.file("silent.wav"), std::vector<short>());
    fs::create_directory(dir.file("folder"));
    std::ofstream(dir.file("out.csv")) << "previous contents\n";

    const struct {
        std::string name;
        std::string reason;
    } cases[] = {{"missing.wav", "no such file"},    {"folder", "is a directory"},
                 {"empty.wav", "empty file"},        {"truncated.wav", "truncated"},
                 {"notes.txt", "not an audio file"}, {"silent.wav", "no audio frames"}};
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        const Outcome r = analyze(dir, "--csv " + quoted(dir.file("out.csv")) + " " + quoted(path));
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        const std::vector<std::string> l = lines(r.err);
        ASSERT_EQ(l.size(), 1u) << r.err;
        EXPECT_EQ(l[0].rfind("veraxo-analyze: " + path + ": ", 0), 0u) << l[0];
        EXPECT_NE(l[0].find(c.reason), std::string::npos) << l[0];
    }
    // The old CSV is untouched and no temporary file is left behind.
    EXPECT_EQ(slurp(dir.file("out.csv")), "previous contents\n");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"empty.wav", "folder", "good.wav", "notes.txt",
                                                     "out.csv", "silent.wav", "truncated.wav"}));

    const Outcome unwritable =
        analyze(dir, "--csv " + quoted(dir.file("none/out.csv")) + " " + quoted(dir.file("good.wav")));
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err.rfind("veraxo-analyze: " + dir.file("none/out.csv") + ": cannot write", 0), 0u)
        << unwritable.err;
    const Outcome ontoFolder =
        analyze(dir, "--csv " + quoted(dir.file("folder")) + " " + quoted(dir.file("good.wav")));
    EXPECT_EQ(ontoFolder.status, 1);
    EXPECT_NE(ontoFolder.err.find("Is a directory"), std::string::npos) << ontoFolder.err;
}

TEST(VeraxoAnalyze, UsageErrorsExitWith2AndShowTheUsage) {
    TempDir dir;
    const std::string sample = quoted(SAMPLE_WAV);
    const struct {
        std::string args;
        std::string message;
    } cases[] = {{"", "no INPUT file given"},
                 {"--block 0 " + sample, "--block needs a whole number from 1 to 1000000, not '0'"},
                 {"--frobnicate " + sample, "unknown option '--frobnicate'"},
                 {"--png= " + sample, "--png needs a file name"},
                 {sample + " " + sample, "more than one INPUT"}};
    for (const auto& c : cases) {
        const Outcome r = analyze(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("veraxo-analyze: " + c.message, 0), 0u) << r.err;
        EXPECT_NE(r.err.find("usage: veraxo-analyze"), std::string::npos) << r.err;
    }
    const Outcome help = analyze(dir, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: veraxo-analyze", 0), 0u);
}

TEST(VeraxoAnalyze, RawInputByNameOrOption) {
    TempDir dir;
    const std::vector<short> x = speechLike(128 * 20);
    std::string bytes;
    for (short v : x) {
        bytes += static_cast<char>(v & 0xff);
        bytes += static_cast<char>((v >> 8) & 0xff);
    }
    std::ofstream(dir.file("take.raw"), std::ios::binary) << bytes;
    std::ofstream(dir.file("take.bin"), std::ios::binary) << bytes;
    writeWav(dir.file("take.wav"), x);
    const Outcome fromWav = analyze(dir, "--csv - " + quoted(dir.file("take.wav")));
    const Outcome byName = analyze(dir, "--csv - " + quoted(dir.file("take.raw")));
    const Outcome byOption = analyze(dir, "--raw --csv - " + quoted(dir.file("take.bin")));
    ASSERT_EQ(fromWav.status, 0);
    ASSERT_EQ(byName.status, 0) << byName.err;
    ASSERT_EQ(byOption.status, 0) << byOption.err;
    EXPECT_EQ(lines(fromWav.out).size(), 21u);
    EXPECT_TRUE(byName.out == fromWav.out);
    EXPECT_TRUE(byOption.out == fromWav.out);
}
