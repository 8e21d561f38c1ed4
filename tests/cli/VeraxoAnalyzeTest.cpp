// The veraxo-analyze executable end to end: CSV contents against the engine run in-process, block-size
// invariance, where the summary goes, and every kind of bad input with its exit status and message.

#include <gtest/gtest.h>

#include <algorithm>
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

#include <fcntl.h>
#include <linux/fs.h>
#include <sndfile.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Shared/VeraxoEngine.h"
#include "tests/support/speech_like.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

// Under ThreadSanitizer, drawing the report picture reports races inside Qt's own uninstrumented
// thread pool; the picture's paths are checked by the other builds.
#if defined(VERAXO_WITH_PNG) && !defined(__SANITIZE_THREAD__)
#define PICTURES_TESTED
#endif

namespace {

// The files of one test, under /tmp/veraxo-analyze-XXXXXX.
struct TempDir : veraxo_test::TempDir {
    TempDir() : veraxo_test::TempDir("analyze") {}
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

// `source` is a shell command whose output feeds the tool's standard input ("" for none); `sink` is
// where its standard output goes ("" for a file the outcome holds); `shell` goes just before the
// program: environment settings, or shell commands ending in "exec ".
Outcome analyze(const TempDir& dir, const std::string& args, const std::string& source = "",
                const std::string& sink = "", const std::string& shell = "") {
    const std::string out = dir.file("stdout.txt");
    const std::string err = dir.file("stderr.txt");
    const std::string command = (source.empty() ? std::string() : source + " | ") + shell + "'" +
                                VERAXO_ANALYZE + "' " + args + " >'" + (sink.empty() ? out : sink) + "' 2>'" +
                                err + "'";
    const int raw = std::system(command.c_str());
    Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    fs::remove(out);
    fs::remove(err);
    return r;
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command line as it stands (its own redirections), with standard error kept.
Outcome shell(const TempDir& dir, const std::string& command) {
    const std::string err = dir.file("stderr.txt");
    const int raw = std::system(("{ " + command + " ; } 2>" + quoted(err)).c_str());
    Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, "", slurp(err)};
    fs::remove(err);
    return r;
}

const std::string PROGRAM = quoted(VERAXO_ANALYZE);

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
    const std::string marked = "truncated: the recording was cut short and analysed up to the break";
    EXPECT_NE(cut.out.find("\n" + marked + "\n"), std::string::npos) << cut.out;

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
    // The warning, then the summary (standard output holds the CSV) with its mark.
    EXPECT_EQ(err.size(), lines(full.err).size() + 2);
    EXPECT_EQ(err.back(), marked);
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
#ifdef PICTURES_TESTED
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
#ifdef PICTURES_TESTED
    options.push_back("--png");
#endif
    for (const std::string& option : options) {
        std::string received;
        std::thread reader([&] { received = slurp(fifo); });
        const Outcome r = analyze(dir, option + " " + quoted(fifo) + in);
        // A run that ends without opening the FIFO leaves its reader waiting: a write end opened and
        // closed here releases it, so the test fails instead of hanging.
        const int release = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (release >= 0)
            ::close(release);
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
    const Outcome limited = analyze(dir, "--csv " + quoted(dir.file("limited.csv")) + in, "", "",
                                    "trap '' XFSZ; ulimit -f 20; exec ");
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(limited.err,
              "veraxo-analyze: " + dir.file("limited.csv") + ": cannot write (File too large)\n");
    EXPECT_EQ(slurp(dir.file("limited.csv")), "old\n");

    // Nothing else was made: no temporary file is left anywhere.
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"dangling.csv", "fd3.csv", "in.wav", "limited.csv", "link.csv",
                                        "new.csv", "pipe", "private.csv", "readonly.csv", "target.csv"}));
}

#ifdef PICTURES_TESTED
// The report picture depends on no display: whatever platform the environment names, present or not,
// the picture is drawn and standard error holds only the program's own lines.
TEST(VeraxoAnalyze, ReportPictureNeedsNoDisplay) {
    TempDir dir;
    writeWav(dir.file("in.wav"), speechLike(128 * 40));
    for (const char* environment :
         {"env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb ",
          "env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=wayland ", "QT_QPA_PLATFORM='nosuch;minimal' "}) {
        const Outcome r =
            analyze(dir, "--png " + quoted(dir.file("x.png")) + " " + quoted(dir.file("in.wav")), "", "",
                    environment);
        EXPECT_EQ(r.status, 0) << environment << r.err;
        for (const std::string& line : lines(r.err))
            EXPECT_EQ(line.rfind("veraxo-analyze: ", 0), 0u) << environment << line;
        EXPECT_EQ(slurp(dir.file("x.png")).substr(0, 4), "\x89PNG") << environment;
        fs::remove(dir.file("x.png"));
    }
}
#endif

// The libraries the dynamic loader maps during a run, those opened at run time included, from the
// loader's own record.
std::vector<std::string> librariesLoaded(const TempDir& dir, const std::string& args) {
    const Outcome r =
        analyze(dir, args, "", "", "LD_DEBUG=files LD_DEBUG_OUTPUT=" + quoted(dir.file("loaded")) + " ");
    EXPECT_EQ(r.status, 0) << args << r.err;
    std::vector<std::string> names;
    for (const std::string& name : dir.names()) {
        if (name.rfind("loaded.", 0) != 0)
            continue;
        for (const std::string& line : lines(slurp(dir.file(name)))) {
            const std::size_t at = line.find("file=");
            if (at != std::string::npos)
                names.push_back(line.substr(at + 5, line.find_first_of(" ;", at) - at - 5));
        }
        fs::remove(dir.file(name));
    }
    return names;
}

// A summary or a CSV maps no Qt, GL, EGL or X11 library, so a short file costs little more than the
// process itself; only a picture brings them in, through its module.
TEST(VeraxoAnalyze, OnlyPicturesLoadQtAndGl) {
    TempDir dir;
    writeWav(dir.file("in.wav"), speechLike(128 * 40));
    fs::create_directory(dir.file("csv"));
    const std::string in = quoted(dir.file("in.wav"));
    const auto graphical = [](const std::vector<std::string>& names) {
        std::vector<std::string> found;
        for (const std::string& n : names)
            for (const char* family : {"libQt", "libEGL", "libGL", "libOpenGL", "libX11", "libxcb"})
                if (n.find(family) != std::string::npos)
                    found.push_back(n);
        return found;
    };
    for (const std::string& args : {"--summary json " + in, "--csv " + quoted(dir.file("x.csv")) + " " + in,
                                    "-j 2 --csv-dir " + quoted(dir.file("csv")) + " " + in + " -"}) {
        const std::vector<std::string> names = librariesLoaded(dir, args + " <" + in);
        EXPECT_GE(names.size(), 4u) << args << ": the loader's record was read";
        EXPECT_EQ(graphical(names), std::vector<std::string>{}) << args;
    }
#ifdef PICTURES_TESTED
    EXPECT_FALSE(graphical(librariesLoaded(dir, "--png " + quoted(dir.file("x.png")) + " " + in)).empty());
#endif
}

TEST(VeraxoAnalyze, UsageErrorsAreOneLineWithExit2) {
    TempDir dir;
    const std::string sample = quoted(SAMPLE_WAV);
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        {"", "no INPUT file given"},
        {"--block 0 " + sample, "--block needs a whole number from 1 to 1000000, not '0'"},
        {"--frobnicate " + sample, "unknown option '--frobnicate'"},
        {"--png= " + sample, "--png needs a file name"},
        {"--csv x.csv " + sample + " " + sample, "--csv takes one INPUT, not 2"},
        {"--csv-dir " + quoted(dir.file("")) + " a/take.wav b/take.flac", "'a/take.wav' and 'b/take.flac'"},
        {"--summary yaml " + sample, "--summary needs text, json or csv"}};
    for (const auto& c : cases) {
        const Outcome r = analyze(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("veraxo-analyze: " + c.message, 0), 0u) << r.err;
        EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find("Try 'veraxo-analyze --help'.\n"), std::string::npos) << r.err;
    }
    const Outcome help = analyze(dir, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: veraxo-analyze", 0), 0u);
    const Outcome version = analyze(dir, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("veraxo-analyze ", 0), 0u);
    EXPECT_EQ(lines(version.out).size(), 1u);

    // A standard output that cannot take the text is a failure, said in one line.
    for (const std::string& args :
         {std::string("--help"), std::string("--version"), sample, "--summary json " + sample}) {
        const Outcome full = analyze(dir, args, "", "/dev/full");
        EXPECT_EQ(full.status, 1) << args;
        EXPECT_EQ(full.err, "veraxo-analyze: standard output: cannot write (No space left on device)\n")
            << args;
    }
}

TEST(VeraxoAnalyze, AnOutputThatIsAnInputOrAnotherOutputIsRefusedBeforeAnythingRuns) {
    TempDir dir;
    writeWav(dir.file("in.wav"), speechLike(8000));
    const std::string wav = slurp(dir.file("in.wav"));
    fs::copy_file(dir.file("in.wav"), dir.file("take.csv"));
    fs::create_symlink(dir.file("in.wav"), dir.file("link.wav"));
    const std::string in = quoted(dir.file("in.wav"));
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        {"--csv " + in + " " + in, "output " + in + " is the same file as input " + in},
        {"--csv " + quoted(dir.file("link.wav")) + " " + in,
         "output " + quoted(dir.file("link.wav")) + " is the same file as input " + in},
        {"--csv " + quoted(dir.file(".//in.wav")) + " " + in, "is the same file as input " + in},
        {"--csv-dir " + quoted(dir.file("")) + " " + in + " " + quoted(dir.file("take.csv")),
         "is the same file as input " + quoted(dir.file("take.csv"))},
        {"--csv " + in + " - <" + in, "output " + in + " is the same file as standard input"},
#ifdef VERAXO_WITH_PNG
        {"--png " + in + " " + in, "output " + in + " is the same file as input " + in},
        {"--csv " + quoted(dir.file("new")) + " --png " + quoted(dir.file("new")) + " " + in,
         "output " + quoted(dir.file("new")) + " is the same file as output " + quoted(dir.file("new"))},
        {"--png-dir " + quoted(dir.file("")) + " --csv-dir " + quoted(dir.file("")) + " " +
             quoted(dir.file("take.csv")),
         "is the same file as input"},
#endif
    };
    for (const auto& c : cases) {
        const Outcome r = analyze(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(slurp(dir.file("in.wav")) == wav) << c.args;
        EXPECT_TRUE(slurp(dir.file("take.csv")) == wav) << c.args;
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.wav", "link.wav", "take.csv"})) << c.args;
    }
}

TEST(VeraxoAnalyze, BatchReportsEveryInputInOrderAndGoesOnPastAFailure) {
    TempDir dir;
    fs::create_directory(dir.file("csv"));
    // Lengths whose durations are exact: 38477, 25605 and 8000 samples.
    const std::vector<std::string> names = {"one.wav", "missing.wav", "two.wav", "say \"hi\", ok.wav"};
    const std::vector<std::vector<short>> recordings = {
        speechLike(128 * 300 + 77), {}, speechLike(128 * 200 + 5), speechLike(8000)};
    for (std::size_t i : {0, 2, 3})
        writeWav(dir.file(names[i]), recordings[i]);
    std::string inputs;
    for (const std::string& name : names)
        inputs += " " + quoted(dir.file(name));

    const Outcome json = analyze(dir, "-j 2 --summary json --csv-dir " + quoted(dir.file("csv")) + inputs);
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.err, "veraxo-analyze: " + dir.file("missing.wav") + ": no such file\n");
    const std::vector<std::string> objects = lines(json.out);
    ASSERT_EQ(objects.size(), 4u) << json.out;
    const char* const durations[] = {"4.809625", "", "3.200625", "1"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string file = dir.file(names[i]);
        for (std::size_t p = file.find('"'); p != std::string::npos; p = file.find('"', p + 2))
            file.insert(p, "\\");
        if (i == 1) {
            EXPECT_EQ(objects[i],
                      "{\"file\": \"" + file +
                          "\", \"duration_s\": null, \"frames\": null, \"mean_lie_level\": null, "
                          "\"peak_lie_level\": null, \"share_above_0_7\": null, \"peak_dbfs\": null, "
                          "\"clipped_samples\": null, \"truncated\": false, "
                          "\"error\": \"no such file\"}");
            EXPECT_FALSE(fs::exists(dir.file("csv/missing.csv")));
            continue;
        }
        // Each CSV is the one a run over that input alone writes, and the summary's figures are its.
        const std::string stem = names[i].substr(0, names[i].size() - 4);
        const Outcome single =
            analyze(dir, "--csv " + quoted(dir.file("single.csv")) + " " + quoted(dir.file(names[i])));
        ASSERT_EQ(single.status, 0) << single.err;
        const std::string csv = slurp(dir.file("single.csv"));
        EXPECT_TRUE(slurp(dir.file("csv/" + stem + ".csv")) == csv) << names[i];
        const std::vector<std::string> rows = lines(csv);
        double sum = 0.0;
        float peak = 0.0f;
        long long high = 0;
        for (std::size_t r = 1; r < rows.size(); ++r) {
            const float lie = std::strtof(fields(rows[r])[2].c_str(), nullptr);
            sum += lie;
            peak = r == 1 || lie > peak ? lie : peak;
            high += lie > 0.7f;
        }
        const long long frames = static_cast<long long>(rows.size()) - 1;
        int loudest = 0;
        for (short v : recordings[i])
            loudest = std::max(loudest, std::abs(static_cast<int>(v)));
        char figures[320];
        std::snprintf(figures, sizeof figures,
                      "\"duration_s\": %s, \"frames\": %lld, \"mean_lie_level\": %.9g, \"peak_lie_level\": "
                      "%.9g, \"share_above_0_7\": %.9g, \"peak_dbfs\": %.9g, \"clipped_samples\": 0, "
                      "\"truncated\": false, \"error\": null}",
                      durations[i], frames, sum / frames, static_cast<double>(peak),
                      static_cast<double>(high) / frames, 20.0 * std::log10(loudest / 32768.0));
        EXPECT_EQ(objects[i], "{\"file\": \"" + file + "\", " + figures);
    }

    // The same batch one at a time, as CSV: a header, one row per input in order, fields quoted as needed.
    const Outcome table = analyze(dir, "-j 1 --summary csv" + inputs);
    EXPECT_EQ(table.status, 1);
    const std::vector<std::string> rows = lines(table.out);
    ASSERT_EQ(rows.size(), 5u) << table.out;
    EXPECT_EQ(
        rows[0],
        "file,duration_s,frames,mean_lie_level,peak_lie_level,share_above_0_7,peak_dbfs,clipped_samples,"
        "truncated,error");
    EXPECT_EQ(rows[1].rfind(dir.file("one.wav") + ",4.809625,300,", 0), 0u) << rows[1];
    EXPECT_EQ(rows[2], dir.file("missing.wav") + ",,,,,,,,false,no such file");
    EXPECT_EQ(rows[4].rfind("\"" + dir.file("say \"\"hi\"\", ok.wav") + "\",1,62,", 0), 0u) << rows[4];

    // Cut short, by name and on a pipe (where only the end of the stream tells): each analysed up to the
    // break, flagged in its JSON line and warned of once, in input order.
    const int kept = 128 * 80 + 25;
    std::ofstream(dir.file("cut.wav"), std::ios::binary)
        << slurp(dir.file(names[0])).substr(0, 44 + 2 * kept);
    const Outcome cut = analyze(dir, "-j 2 --summary json " + quoted(dir.file("cut.wav")) + " -",
                                "cat " + quoted(dir.file("cut.wav")));
    EXPECT_EQ(cut.status, 0) << cut.err;
    const std::vector<std::string> cutObjects = lines(cut.out);
    ASSERT_EQ(cutObjects.size(), 2u) << cut.out;
    for (const std::string& object : cutObjects) {
        EXPECT_NE(object.find("\"duration_s\": 1.283125, \"frames\": 80, "), std::string::npos) << object;
        EXPECT_NE(object.find("\"truncated\": true, \"error\": null}"), std::string::npos) << object;
    }
    EXPECT_EQ(cut.err, "veraxo-analyze: warning: " + dir.file("cut.wav") +
                           " is cut short (the header announces 76954 bytes of audio, the file holds 20530); "
                           "analysed up to the break\n"
                           "veraxo-analyze: warning: standard input is cut short (only 10265 of the 38477 "
                           "frames the header declares were decoded); analysed up to the break\n");
}

TEST(VeraxoAnalyze, StandardInputEqualsTheFileByName) {
    TempDir dir;
    const std::vector<short> x = speechLike(128 * 150 + 3);
    writeWav(dir.file("take.wav"), x);
    // Every common format at telephone, CD and video rates, mono and stereo; WAV, AIFF and FLAC larger
    // than 10 MB (far past the bytes a pipe's reader keeps to go back over a header).
    struct Take {
        const char* name;
        int format;
        int rate;
        int channels;
        int frames;
    } const takes[] = {
        {"phone.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 8000, 1, 8000 * 20},
        {"cd.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 2700000},
        {"cd.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 2, 2700000},
        {"cd.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 4000000},
        {"video.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, 48000 * 10},
        {"video.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 48000, 1, 48000 * 10},
    };
    std::vector<std::string> names = {"take.wav"};
    for (const Take& t : takes) {
        SF_INFO info = {};
        info.samplerate = t.rate;
        info.channels = t.channels;
        info.format = t.format;
        SNDFILE* f = sf_open(dir.file(t.name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr) << t.name;
        const std::vector<short> mono = speechLike(t.frames);
        std::vector<short> frames;
        for (short v : mono) {
            frames.push_back(v);
            if (t.channels == 2)
                frames.push_back(static_cast<short>(-v / 3));
        }
        sf_writef_short(f, frames.data(), t.frames);
        sf_close(f);
        if (t.frames >= 2700000) {
            ASSERT_GT(fs::file_size(dir.file(t.name)), 10u << 20) << t.name;
        }
        names.push_back(t.name);
    }
    // Streamed WAVs whose header gives 0 or 0xFFFFFFFF bytes of audio, and one with a large chunk
    // before the audio, which the pipe's reader must read past and come back to.
    const std::string take = slurp(dir.file("take.wav"));
    ASSERT_EQ(take.compare(36, 4, "data"), 0);
    for (const char* size : {"\x00\x00\x00\x00", "\xff\xff\xff\xff"}) {
        const std::string name = size[0] ? "streamed-ffffffff.wav" : "streamed-0.wav";
        std::ofstream(dir.file(name), std::ios::binary)
            << take.substr(0, 40) << std::string(size, 4) << take.substr(44);
        names.push_back(name);
    }
    const std::string junk(300000, 'j');
    const unsigned n = static_cast<unsigned>(junk.size());
    const char chunk[] = {'a', 'b', 'c', 'd', char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    std::ofstream(dir.file("chunk-first.wav"), std::ios::binary)
        << take.substr(0, 36) << std::string(chunk, 8) << junk << take.substr(36);
    names.push_back("chunk-first.wav");

    for (const std::string& name : names) {
        const Outcome byName = analyze(dir, "--csv - --summary json " + quoted(dir.file(name)));
        ASSERT_EQ(byName.status, 0) << name << ": " << byName.err;
        const Outcome piped = analyze(dir, "--csv - --summary json -", "cat " + quoted(dir.file(name)));
        const Outcome redirected = analyze(dir, "--csv - --summary json - <" + quoted(dir.file(name)));
        ASSERT_EQ(piped.status, 0) << name << ": " << piped.err;
        ASSERT_EQ(redirected.status, 0) << name << ": " << redirected.err;
        EXPECT_GT(lines(byName.out).size(), 100u) << name;
        EXPECT_TRUE(piped.out == byName.out) << name;
        EXPECT_TRUE(redirected.out == byName.out) << name;
        // The summary line (on standard error, as the rows take standard output) differs in the name alone.
        const std::string summary = byName.err.substr(byName.err.find(", \"duration_s\""));
        EXPECT_EQ(piped.err.substr(piped.err.find(", \"duration_s\"")), summary) << name;
        EXPECT_NE(summary.find("\"truncated\": false, \"error\": null"), std::string::npos)
            << name << summary;
    }
    std::string bytes;
    for (short v : x) {
        bytes += static_cast<char>(v & 0xff);
        bytes += static_cast<char>((v >> 8) & 0xff);
    }
    std::ofstream(dir.file("take.pcm"), std::ios::binary) << bytes;
    const Outcome wav = analyze(dir, "--csv - " + quoted(dir.file("take.wav")));
    const Outcome raw = analyze(dir, "--raw --csv - -", "cat " + quoted(dir.file("take.pcm")));
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_TRUE(raw.out == wav.out);

    // A headerless name without --raw gets a hint; an empty stream is refused.
    const Outcome hint = analyze(dir, quoted(dir.file("take.pcm")));
    EXPECT_EQ(hint.status, 1);
    EXPECT_NE(hint.err.find("use --raw"), std::string::npos) << hint.err;
    EXPECT_EQ(lines(hint.err).size(), 1u) << hint.err;
    const Outcome empty = analyze(dir, "--raw --summary json -", "printf ''");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, "veraxo-analyze: standard input: empty: no audio frames\n");
    EXPECT_NE(empty.out.find("\"file\": \"-\", \"duration_s\": null"), std::string::npos) << empty.out;
    EXPECT_NE(empty.out.find("\"error\": \"empty: no audio frames\"}"), std::string::npos) << empty.out;
    // Without --raw, an empty pipe is what an empty file by name is.
    const Outcome nothing = analyze(dir, "-", "printf ''");
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.err, "veraxo-analyze: standard input: empty file\n");
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

// A closed standard stream is held by a placeholder, so no output file takes its descriptor: the CSVs
// stay intact and the failure is one line with exit 1. A standard output redirected onto an input
// (appending to the recording) or onto an output is refused before anything runs; a short CSV on a full
// standard output is one line and exit 1.
TEST(VeraxoAnalyze, StandardStreamsClosedOrRedirectedOntoAFileLoseNothing) {
    TempDir dir;
    writeWav(dir.file("good.wav"), speechLike(128 * 100));
    writeWav(dir.file("long.wav"), speechLike(128 * 3000));
    const std::string good = quoted(dir.file("good.wav"));
    const std::string longer = quoted(dir.file("long.wav"));
    const Outcome goodCsv = analyze(dir, "--csv - " + good);
    const Outcome longCsv = analyze(dir, "--csv - " + longer);
    ASSERT_EQ(longCsv.status, 0) << longCsv.err;

    const std::string out = quoted(dir.file("out"));
    for (int run = 0; run < 3; ++run) {
        const Outcome closed = shell(dir, PROGRAM + " -j 1 --csv-dir " + out + " --summary json " + good +
                                              " - <" + longer + " >&-");
        EXPECT_EQ(closed.status, 1);
        EXPECT_EQ(closed.err, "veraxo-analyze: standard output: cannot write (Bad file descriptor)\n");
        EXPECT_TRUE(slurp(dir.file("out/stdin.csv")) == longCsv.out) << run;
        EXPECT_TRUE(slurp(dir.file("out/good.csv")) == goodCsv.out) << run;
    }
    const Outcome noInput = shell(dir, PROGRAM + " --csv-dir " + out + " - <&-");
    EXPECT_EQ(noInput.status, 1);
    EXPECT_EQ(lines(noInput.err).size(), 1u) << noInput.err;
    EXPECT_EQ(noInput.err.rfind("veraxo-analyze: standard input: ", 0), 0u) << noInput.err;
    fs::remove_all(dir.file("out"));
    EXPECT_EQ(shell(dir, PROGRAM + " --csv-dir " + out + " " + good + " >/dev/null 2>&-").status, 0);
    EXPECT_TRUE(slurp(dir.file("out/good.csv")) == goodCsv.out);

    const std::string wav = slurp(dir.file("good.wav"));
    const Outcome appended = shell(dir, PROGRAM + " " + good + " >>" + good);
    EXPECT_EQ(appended.status, 2);
    EXPECT_NE(appended.err.find("standard output is the same file as input " + good), std::string::npos)
        << appended.err;
    EXPECT_TRUE(slurp(dir.file("good.wav")) == wav);
    const Outcome ontoOutput =
        shell(dir, PROGRAM + " --csv-dir " + out + " " + good + " " + longer + " >" + out + "/long.csv");
    EXPECT_EQ(ontoOutput.status, 2);
    EXPECT_EQ(lines(ontoOutput.err).size(), 1u) << ontoOutput.err;
    EXPECT_NE(
        ontoOutput.err.find("standard output is the same file as output " + quoted(dir.file("out/long.csv"))),
        std::string::npos)
        << ontoOutput.err;
    EXPECT_EQ(slurp(dir.file("out/long.csv")), "");
    EXPECT_EQ(fs::file_size(dir.file("out/good.csv")), goodCsv.out.size());
    // Named as the standard output itself, the CSV is written into it.
    EXPECT_EQ(shell(dir, PROGRAM + " --csv /dev/stdout " + good + " >" + out + "/good.csv").status, 0);
    EXPECT_TRUE(slurp(dir.file("out/good.csv")) == goodCsv.out);

    writeWav(dir.file("tiny.wav"), speechLike(128 * 3));
    const Outcome full = analyze(dir, "--csv - " + quoted(dir.file("tiny.wav")), "", "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "veraxo-analyze: standard output: cannot write (No space left on device)\n");
}

// --csv-dir and --png-dir are made with their parents when missing (with the umask, as mkdir -p makes
// them), so the batch of the README runs as written; something other than a folder in their place is
// a usage error before anything runs. Pictures drawn one at a time over more inputs than the report
// window holds still finish.
TEST(VeraxoAnalyze, OutputFoldersAreMadeAndAFileInTheirPlaceIsRefused) {
    TempDir dir;
    std::string inputs;
    for (int i = 0; i < 7; ++i) {
        writeWav(dir.file("take" + std::to_string(i) + ".wav"), speechLike(128 * (20 + 10 * i)));
        inputs += " " + quoted(dir.file("take" + std::to_string(i) + ".wav"));
    }
    std::string options = "--csv-dir " + quoted(dir.file("frames/new/deeper"));
#ifdef PICTURES_TESTED
    options += " --png-dir " + quoted(dir.file("pictures"));
#endif
    const Outcome made =
        shell(dir, "umask 027; timeout 300 " + PROGRAM + " -j 1 " + options + inputs + " >/dev/null");
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.err, "");
    for (const char* folder : {"frames", "frames/new", "frames/new/deeper"}) {
        struct stat st;
        ASSERT_EQ(::stat(dir.file(folder).c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 07777, 0750u) << folder;
    }
    for (int i = 0; i < 7; ++i) {
        const std::string stem = "take" + std::to_string(i);
        EXPECT_EQ(lines(slurp(dir.file("frames/new/deeper/" + stem + ".csv"))).size(), 21u + 10 * i) << i;
#ifdef PICTURES_TESTED
        EXPECT_EQ(slurp(dir.file("pictures/" + stem + ".png")).substr(0, 4), "\x89PNG") << i;
#endif
    }

    std::ofstream(dir.file("notes.txt")) << "notes\n";
    for (const std::string& place : {std::string("notes.txt"), std::string("notes.txt/sub")}) {
        for (const char* option : {"--csv-dir", "--png-dir"}) {
#ifndef PICTURES_TESTED
            if (std::string(option) == "--png-dir")
                continue;
#endif
            const Outcome r = analyze(dir, std::string(option) + " " + quoted(dir.file(place)) + inputs);
            EXPECT_EQ(r.status, 2) << option << " " << place;
            EXPECT_EQ(r.err, "veraxo-analyze: " + std::string(option) + " " + quoted(dir.file(place)) +
                                 " is not a folder. Try 'veraxo-analyze --help'.\n");
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_EQ(slurp(dir.file("notes.txt")), "notes\n");
}

// Names with spaces, quotes, a backslash, line breaks, an escape sequence, bytes that are not UTF-8 and
// a leading dash reach every output form whole: each its own DIR/NAME.csv, JSON and CSV summaries in
// their own escaping, the text summary and messages with the control bytes escaped.
TEST(VeraxoAnalyze, HostileNamesReachEveryOutputForm) {
    TempDir dir;
    fs::create_directory(dir.file("in"));
    const struct {
        std::string name;
        std::string json;
        std::string csv;
        std::string text;
    } cases[] = {
        {"with space.wav", "with space.wav", "with space.wav", "with space.wav"},
        {"it's \"quoted\".wav", "it's \\\"quoted\\\".wav", "\"it's \"\"quoted\"\".wav\"",
         "it's \"quoted\".wav"},
        {"back\\slash.wav", "back\\\\slash.wav", "back\\slash.wav", "back\\slash.wav"},
        {"two\nlines.wav", "two\\u000alines.wav", "\"two\nlines.wav\"", "two\\nlines.wav"},
        {"carriage\rreturn.wav", "carriage\\u000dreturn.wav", "\"carriage\rreturn.wav\"",
         "carriage\\rreturn.wav"},
        {"red\x1b[31m.wav", "red\\u001b[31m.wav", "red\x1b[31m.wav", "red\\x1b[31m.wav"},
        {"latin\xe9\xff.wav", "latin\\ufffd\\ufffd.wav", "latin\xe9\xff.wav", "latin\xe9\xff.wav"},
        {"-dash.wav", "-dash.wav", "-dash.wav", "-dash.wav"},
    };
    std::string inputs;
    int length = 40;
    for (const auto& c : cases) {
        writeWav(dir.file("in/" + c.name), speechLike(128 * length++));
        inputs += " " + quoted(dir.file("in/" + c.name));
    }
    const std::string prefix = dir.file("in/");
    const Outcome json = analyze(dir, "--summary json --csv-dir " + quoted(dir.file("csv")) + " --" + inputs);
    ASSERT_EQ(json.status, 0) << json.err;
    const Outcome table = analyze(dir, "--summary csv --" + inputs);
    ASSERT_EQ(table.status, 0) << table.err;
    const Outcome text = analyze(dir, "--" + inputs);
    ASSERT_EQ(text.status, 0) << text.err;
    const std::vector<std::string> objects = lines(json.out);
    ASSERT_EQ(objects.size(), std::size(cases)) << json.out;
    length = 40;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(objects[i].rfind("{\"file\": \"" + prefix + c.json + "\", ", 0), 0u) << objects[i];
        const std::string stem = c.name.substr(0, c.name.size() - 4);
        EXPECT_EQ(lines(slurp(dir.file("csv/" + stem + ".csv"))).size(), 1u + length++) << stem;
        const std::string row = c.csv[0] == '"' ? "\"" + prefix + c.csv.substr(1) : prefix + c.csv;
        EXPECT_NE(table.out.find("\n" + row + ","), std::string::npos) << row;
        EXPECT_NE(text.out.find("input: " + prefix + c.text + "\n"), std::string::npos) << c.text;
    }
    EXPECT_EQ(lines(table.out).size(), std::size(cases) + 2) << table.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.out.find('\r'), std::string::npos);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"csv", "in"}));

    // Messages: a failure, a warning and a usage error each stay one line.
    const std::string missing = dir.file("gone\n\x1b[2J.wav");
    const Outcome failed = analyze(dir, quoted(missing));
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "veraxo-analyze: " + dir.file("gone\\n\\x1b[2J.wav") + ": no such file\n");
    const std::vector<short> x = speechLike(128 * 60);
    writeWav(dir.file("cut\n.wav"), x);
    std::ofstream(dir.file("cut\rshort.wav"), std::ios::binary)
        << slurp(dir.file("cut\n.wav")).substr(0, 2000);
    const Outcome warned = analyze(dir, quoted(dir.file("cut\rshort.wav")));
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(
        warned.err.rfind("veraxo-analyze: warning: " + dir.file("cut\\rshort.wav") + " is cut short", 0), 0u)
        << warned.err;
    EXPECT_EQ(lines(warned.err).size(), 1u) << warned.err;
    const Outcome clash = analyze(dir, "--csv-dir " + quoted(dir.file("csv")) + " " + quoted("a/x\n.wav") +
                                           " " + quoted("b/x\n.wav"));
    EXPECT_EQ(clash.status, 2);
    EXPECT_EQ(clash.err.rfind("veraxo-analyze: 'a/x\\n.wav' and 'b/x\\n.wav' would both write x\\n.csv", 0),
              0u)
        << clash.err;
}

// The input level in every summary form, measured as the app measures it: only samples at the 16-bit
// rails are clipped (-32767 is not), and silence has no peak level.
TEST(VeraxoAnalyze, PeakLevelAndClippedSamplesInEverySummaryForm) {
    TempDir dir;
    std::vector<short> clipped = speechLike(128 * 50);
    for (int i = 0; i < 6; ++i)
        clipped[1000 + 37 * i] = i % 2 ? -32768 : 32767;
    clipped[3000] = -32767;
    writeWav(dir.file("clipped.wav"), clipped);
    std::vector<short> clean = speechLike(128 * 50);
    for (short& v : clean)
        v = static_cast<short>(v / 4);
    clean[500] = -16384;
    writeWav(dir.file("clean.wav"), clean);
    writeWav(dir.file("silent.wav"), std::vector<short>(128 * 50, 0));
    const std::string inputs = " " + quoted(dir.file("clipped.wav")) + " " + quoted(dir.file("clean.wav")) +
                               " " + quoted(dir.file("silent.wav"));

    const Outcome json = analyze(dir, "--summary json" + inputs);
    ASSERT_EQ(json.status, 0) << json.err;
    const std::vector<std::string> objects = lines(json.out);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_NE(objects[0].find("\"peak_dbfs\": 0, \"clipped_samples\": 6, "), std::string::npos) << objects[0];
    EXPECT_NE(objects[1].find("\"peak_dbfs\": -6.02059991, \"clipped_samples\": 0, "), std::string::npos)
        << objects[1];
    EXPECT_NE(objects[2].find("\"peak_dbfs\": null, \"clipped_samples\": 0, "), std::string::npos)
        << objects[2];

    const std::vector<std::string> rows = lines(analyze(dir, "--summary csv" + inputs).out);
    ASSERT_EQ(rows.size(), 4u);
    const std::vector<std::string> header = fields(rows[0]);
    ASSERT_EQ(header[6], "peak_dbfs");
    ASSERT_EQ(header[7], "clipped_samples");
    const char* const expected[][2] = {{"0", "6"}, {"-6.02059991", "0"}, {"", "0"}};
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::string> f = fields(rows[i + 1]);
        ASSERT_GE(f.size(), 8u) << rows[i + 1];
        EXPECT_EQ(f[6], expected[i][0]) << rows[i + 1];
        EXPECT_EQ(f[7], expected[i][1]) << rows[i + 1];
    }

    const std::string text = analyze(dir, inputs).out;
    for (const char* line :
         {"peak level: 0.00 dBFS\nclipped samples: 6\n", "peak level: -6.02 dBFS\nclipped samples: 0\n",
          "peak level: none (silence)\nclipped samples: 0\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

// How an output reaches the disk: the temporary is synced before the rename that makes it the file;
// an interrupt removes every temporary however many jobs run; a folder where no temporary could be
// removed (append-only) is refused; a link another user planted in a sticky, world-writable folder is
// not followed (unless it is the folder owner's).
TEST(VeraxoAnalyze, OutputsAreSyncedTrackedAndNeverFollowAPlantedLink) {
    TempDir dir;
    writeWav(dir.file("in.wav"), speechLike(128 * 100));
    const std::string in = " " + quoted(dir.file("in.wav"));

    const std::string log = dir.file("calls.log");
    const std::string preload =
        "ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" LD_PRELOAD=" + quoted(SYNC_ORDER_SHIM) +
        " SYNC_ORDER_LOG=" + quoted(log) + " ";
    std::string outputs = "--csv " + quoted(dir.file("out.csv"));
#ifdef PICTURES_TESTED
    outputs += " --png " + quoted(dir.file("out.png"));
#endif
    ASSERT_EQ(analyze(dir, outputs + in, "", "", preload).status, 0);
    const std::vector<std::string> calls = lines(slurp(log));
    fs::remove(log);
    std::vector<std::string> targets = {"out.csv"};
#ifdef PICTURES_TESTED
    targets.push_back("out.png");
#endif
    for (const std::string& target : targets) {
        const std::string suffix = " " + dir.file(target);
        const auto renamed = std::find_if(calls.begin(), calls.end(), [&](const std::string& call) {
            return call.rfind("rename ", 0) == 0 && call.size() > suffix.size() &&
                   call.compare(call.size() - suffix.size(), suffix.size(), suffix) == 0;
        });
        ASSERT_NE(renamed, calls.end()) << target;
        const std::string temp = renamed->substr(7, renamed->size() - 7 - suffix.size());
        EXPECT_NE(std::find(calls.begin(), renamed, "sync " + temp), renamed) << target << ": " << temp;
    }

    // An interrupt with more outputs open than any fixed table would hold: each input a FIFO whose
    // writer stops part way and waits, so every temporary exists when the signal comes (SIGTERM: a
    // job in the background of a shell ignores SIGINT, and an ignored signal stays ignored).
    fs::create_directory(dir.file("many"));
    writeWav(dir.file("long.wav"), speechLike(8000 * 20));
    std::string writers;
    std::string inputs;
    for (int i = 0; i < 90; ++i) {
        const std::string fifo = quoted(dir.file("many/take" + std::to_string(i) + ".wav"));
        ASSERT_EQ(::mkfifo(dir.file("many/take" + std::to_string(i) + ".wav").c_str(), 0600), 0);
        writers += "(head -c 200000 " + quoted(dir.file("long.wav")) + "; exec sleep 120) >" + fifo +
                   " & w=\"$w $!\"; ";
        inputs += " " + fifo;
    }
    const std::string csv = quoted(dir.file("csv"));
    const Outcome interrupted = shell(
        dir, writers + PROGRAM + " -j 90 --csv-dir " + csv + inputs + " >/dev/null & pid=$!; n=0; " +
                 "while [ $(ls " + csv + " 2>/dev/null | grep -c '\\.csv\\.') -lt 90 ] && [ $n -lt 1200 ]; " +
                 "do sleep 0.05; n=$((n+1)); done; ls " + csv + " | grep -c '\\.csv\\.' >&2; " +
                 "kill -TERM $pid; sleep 1; kill $w; wait $pid; echo $? >&2");
    const std::vector<std::string> report = lines(interrupted.err);
    ASSERT_EQ(report.size(), 2u) << interrupted.err;
    EXPECT_EQ(report[0], "90");
    EXPECT_EQ(report[1], "143");
    EXPECT_TRUE(fs::is_empty(dir.file("csv")));

    // Append-only and planted links need the superuser (and a file system that keeps the flag).
    if (::geteuid() != 0)
        return;
    fs::create_directory(dir.file("log"));
    const int folder = ::open(dir.file("log").c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (folder >= 0 && ::ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 &&
        (flags |= FS_APPEND_FL, ::ioctl(folder, FS_IOC_SETFLAGS, &flags) == 0)) {
        const Outcome appendOnly = analyze(dir, "--csv " + quoted(dir.file("log/new.csv")) + in);
        flags &= ~FS_APPEND_FL;
        ::ioctl(folder, FS_IOC_SETFLAGS, &flags);
        EXPECT_EQ(appendOnly.status, 1);
        EXPECT_EQ(appendOnly.err, "veraxo-analyze: " + dir.file("log/new.csv") +
                                      ": cannot write (the folder is append-only)\n");
        EXPECT_TRUE(fs::is_empty(dir.file("log")));
    }
    if (folder >= 0)
        ::close(folder);

    fs::create_directory(dir.file("shared"));
    ::chmod(dir.file("shared").c_str(), 01777);
    std::ofstream(dir.file("precious.txt")) << "keep\n";
    fs::create_symlink(dir.file("precious.txt"), dir.file("shared/report.csv"));
    const uid_t other = 4242;
    ASSERT_EQ(::lchown(dir.file("shared/report.csv").c_str(), other, other), 0);
    const Outcome planted = analyze(dir, "--csv " + quoted(dir.file("shared/report.csv")) + in);
    EXPECT_EQ(planted.status, 1);
    EXPECT_EQ(lines(planted.err).size(), 1u) << planted.err;
    EXPECT_EQ(planted.err.rfind("veraxo-analyze: " + dir.file("shared/report.csv") + ": cannot write (", 0),
              0u)
        << planted.err;
    EXPECT_EQ(slurp(dir.file("precious.txt")), "keep\n");
    // The folder's owner may place links there, and so may the caller.
    ASSERT_EQ(::chown(dir.file("shared").c_str(), other, other), 0);
    EXPECT_EQ(analyze(dir, "--csv " + quoted(dir.file("shared/report.csv")) + in).status, 0);
    ASSERT_EQ(::chown(dir.file("shared").c_str(), 0, 0), 0);
    ASSERT_EQ(::lchown(dir.file("shared/report.csv").c_str(), 0, 0), 0);
    std::ofstream(dir.file("precious.txt")) << "keep\n";
    EXPECT_EQ(analyze(dir, "--csv " + quoted(dir.file("shared/report.csv")) + in).status, 0);
    EXPECT_NE(slurp(dir.file("precious.txt")), "keep\n");
}
