// The veraxo-analyze executable end to end: CSV contents against the engine run in-process, block-size
// invariance, where the summary goes, and every kind of bad input with its exit status and message.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sndfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

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

// shell goes before the program: environment settings, or shell commands ending in "exec ".
Outcome analyze(const TempDir& dir, const std::string& args, const std::string& shell = "") {
    const std::string out = dir.file("stdout.txt");
    const std::string err = dir.file("stderr.txt");
    const std::string command =
        shell + std::string("'") + VERAXO_ANALYZE + "' " + args + " >'" + out + "' 2>'" + err + "'";
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
    writeWav(dir.file("silent.wav"), std::vector<short>());
    fs::create_directory(dir.file("folder"));
    std::ofstream(dir.file("out.csv")) << "previous contents\n";

    const struct {
        std::string name;
        std::string reason;
    } cases[] = {{"missing.wav", "no such file"},
                 {"folder", "is a directory"},
                 {"empty.wav", "empty file"},
                 {"notes.txt", "not an audio file"},
                 {"silent.wav", "no audio frames"}};
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
                                                     "out.csv", "silent.wav"}));

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

// A recording cut short (a header announcing more than the file holds, a FLAC damaged part-way) is
// analysed up to the break: exit 0, one warning line naming the file and what is missing, and the rows
// of the part that survives.
TEST(VeraxoAnalyze, CutShortRecordingsAreAnalysedUpToTheBreakWithOneWarning) {
    TempDir dir;
    const std::vector<short> x = speechLike(128 * 200);
    writeWav(dir.file("full.wav"), x);
    const std::string wav = slurp(dir.file("full.wav"));
    const int kept = 128 * 80 + 25;
    std::ofstream(dir.file("cut.wav"), std::ios::binary) << wav.substr(0, 44 + 2 * kept);
    writeWav(dir.file("part.wav"), std::vector<short>(x.begin(), x.begin() + kept));
    const Outcome part = analyze(dir, "--csv - " + quoted(dir.file("part.wav")));
    ASSERT_EQ(part.status, 0) << part.err;

    const Outcome cut =
        analyze(dir, "--csv " + quoted(dir.file("cut.csv")) + " " + quoted(dir.file("cut.wav")));
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.err, "veraxo-analyze: warning: " + dir.file("cut.wav") +
                           " is cut short (the header announces 51200 bytes of audio, the file holds 20530); "
                           "analysed up to the break\n");
    EXPECT_TRUE(slurp(dir.file("cut.csv")) == part.out);
    EXPECT_NE(cut.out.find("frames: 80\n"), std::string::npos) << cut.out;

    SF_INFO info = {};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(dir.file("full.flac").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_short(f, x.data(), static_cast<sf_count_t>(x.size()));
    sf_close(f);
    std::string flac = slurp(dir.file("full.flac"));
    for (std::size_t i = flac.size() / 2; i < flac.size(); ++i)
        flac[i] = static_cast<char>(i * 7919 >> 3);
    std::ofstream(dir.file("damaged.flac"), std::ios::binary) << flac;
    const Outcome full = analyze(dir, "--csv - " + quoted(dir.file("full.wav")));
    const Outcome damaged = analyze(dir, "--csv - " + quoted(dir.file("damaged.flac")));
    EXPECT_EQ(damaged.status, 0);
    const std::vector<std::string> err = lines(damaged.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err[0].rfind("veraxo-analyze: warning: " + dir.file("damaged.flac") + " is cut short (", 0), 0u)
        << err[0];
    EXPECT_NE(err[0].find("of 25600 frames"), std::string::npos) << err[0];
    EXPECT_EQ(err.size(), lines(full.err).size() + 1);
    const std::vector<std::string> rows = lines(damaged.out);
    const std::vector<std::string> fullRows = lines(full.out);
    ASSERT_GT(rows.size(), 50u);
    ASSERT_LT(rows.size(), fullRows.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.begin() + 50, fullRows.begin()));
}

// Where --csv and --png write: through a symlink, into a FIFO, a device or an open descriptor, over a
// regular file keeping its mode; never over a file the user may not write (a read-only file, also for
// the superuser), never replacing a device, never leaving a partial file when the disk fills.
TEST(VeraxoAnalyze, OutputPathsAreWrittenWhereTheyPoint) {
    TempDir dir;
    writeWav(dir.file("in.wav"), speechLike(128 * 100));
    const std::string in = " " + quoted(dir.file("in.wav"));
    const Outcome reference = analyze(dir, "--csv -" + in);
    ASSERT_EQ(reference.status, 0) << reference.err;
    const std::string csv = reference.out;
    const auto mode = [](const std::string& path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0u;
    };

    std::ofstream(dir.file("target.csv")) << "old\n";
    fs::create_symlink("target.csv", dir.file("link.csv"));
    fs::create_symlink("new.csv", dir.file("dangling.csv"));
    for (const char* link : {"link.csv", "dangling.csv"}) {
        const Outcome r = analyze(dir, "--csv " + quoted(dir.file(link)) + in);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(S_ISLNK(mode(dir.file(link)))) << link;
    }
    EXPECT_TRUE(slurp(dir.file("target.csv")) == csv);
    EXPECT_TRUE(slurp(dir.file("new.csv")) == csv);

    std::ofstream(dir.file("private.csv")) << "old\n";
    ::chmod(dir.file("private.csv").c_str(), 0640);
    EXPECT_EQ(analyze(dir, "--csv " + quoted(dir.file("private.csv")) + in).status, 0);
    EXPECT_TRUE(slurp(dir.file("private.csv")) == csv);
    EXPECT_EQ(mode(dir.file("private.csv")) & 07777, 0640u);

    std::ofstream(dir.file("readonly.csv")) << "old\n";
    ::chmod(dir.file("readonly.csv").c_str(), 0444);
    std::vector<std::string> refused = {"--csv"};
#ifdef VERAXO_WITH_PNG
    refused.push_back("--png");
#endif
    for (const std::string& option : refused) {
        const Outcome r = analyze(dir, option + " " + quoted(dir.file("readonly.csv")) + in);
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(dir.file("readonly.csv") + ": cannot write"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("(Permission denied)"), std::string::npos) << r.err;
        EXPECT_EQ(slurp(dir.file("readonly.csv")), "old\n");
        EXPECT_EQ(mode(dir.file("readonly.csv")) & 07777, 0444u);
    }

    // A FIFO's reader gets the whole output, and the FIFO stays.
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> options = {"--csv"};
#ifdef VERAXO_WITH_PNG
    options.push_back("--png");
#endif
    for (const std::string& option : options) {
        std::string received;
        std::thread reader([&] { received = slurp(fifo); });
        const Outcome r = analyze(dir, option + " " + quoted(fifo) + in);
        reader.join();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(S_ISFIFO(mode(fifo))) << option;
        if (option == "--csv")
            EXPECT_TRUE(received == csv);
        else
            EXPECT_EQ(received.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    }

    // Open descriptors are written as they stand (appending here); devices are written into, not replaced.
    std::ofstream(dir.file("fd3.csv")) << "head\n";
    EXPECT_EQ(analyze(dir, "--csv /dev/fd/3" + in + " 3>>" + quoted(dir.file("fd3.csv"))).status, 0);
    EXPECT_TRUE(slurp(dir.file("fd3.csv")) == "head\n" + csv);
    const Outcome toStdout = analyze(dir, "--csv /dev/stdout" + in);
    EXPECT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_TRUE(toStdout.out == csv);
    EXPECT_EQ(toStdout.err, reference.err);
    EXPECT_EQ(analyze(dir, "--csv /dev/null" + in).status, 0);
    const bool nullKept = S_ISCHR(mode("/dev/null"));
    EXPECT_TRUE(nullKept);
    // Should the superuser's run have replaced it, the machine gets its device back.
    if (!nullKept && ::geteuid() == 0 && ::mknod("/dev/null.restored", S_IFCHR | 0666, makedev(1, 3)) == 0 &&
        ::chmod("/dev/null.restored", 0666) == 0)
        std::rename("/dev/null.restored", "/dev/null");
    const Outcome full = analyze(dir, "--csv /dev/full" + in);
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "veraxo-analyze: /dev/full: cannot write (No space left on device)\n");
    EXPECT_TRUE(S_ISCHR(mode("/dev/full")));

    // No room for the whole file (a file size limit stands in for a full disk): the old file stays.
    std::ofstream(dir.file("limited.csv")) << "old\n";
    const Outcome limited =
        analyze(dir, "--csv " + quoted(dir.file("limited.csv")) + in, "trap '' XFSZ; ulimit -f 20; exec ");
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(limited.err,
              "veraxo-analyze: " + dir.file("limited.csv") + ": cannot write (File too large)\n");
    EXPECT_EQ(slurp(dir.file("limited.csv")), "old\n");

    // Nothing else was made: no temporary file is left anywhere.
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"dangling.csv", "fd3.csv", "in.wav", "limited.csv", "link.csv",
                                        "new.csv", "pipe", "private.csv", "readonly.csv", "target.csv"}));
}

#ifdef VERAXO_WITH_PNG
// The report picture depends on no display: whatever platform the environment names, present or not,
// the picture is drawn and standard error holds only the program's own lines.
TEST(VeraxoAnalyze, ReportPictureNeedsNoDisplay) {
    TempDir dir;
    writeWav(dir.file("in.wav"), speechLike(128 * 40));
    for (const char* environment :
         {"env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb ",
          "env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=wayland ", "QT_QPA_PLATFORM='nosuch;minimal' "}) {
        const Outcome r = analyze(
            dir, "--png " + quoted(dir.file("x.png")) + " " + quoted(dir.file("in.wav")), environment);
        EXPECT_EQ(r.status, 0) << environment << r.err;
        for (const std::string& line : lines(r.err))
            EXPECT_EQ(line.rfind("veraxo-analyze: ", 0), 0u) << environment << line;
        EXPECT_EQ(slurp(dir.file("x.png")).substr(0, 4), "\x89PNG") << environment;
        fs::remove(dir.file("x.png"));
    }
}
#endif

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
