// veraxo-analyze --png: the picture's panels are drawn from the input, and without a GL context the
// picture says so, the rest is still drawn and the run still succeeds with a warning.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <QImage>
#include <gtest/gtest.h>

#include "views/ReportPicture.h"
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A file name of this process's own, so that suites running side by side never share one.
fs::path scratch(const std::string& name) {
    return fs::temp_directory_path() / ("veraxo_" + std::to_string(getpid()) + "_" + name);
}

struct Outcome {
    int status;
    std::string err;
};

Outcome analyze(const std::string& environment, const std::string& args) {
    const fs::path err = scratch("report_stderr.txt");
    const std::string command =
        environment + " '" VERAXO_ANALYZE "' " + args + " >/dev/null 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    std::ifstream in(err);
    std::stringstream text;
    text << in.rdbuf();
    fs::remove(err);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
}

int count(const QImage& image, const QRect& area, bool (*match)(const QColor&)) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += match(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool cyan(const QColor& c) {
    return c.red() < 60 && c.green() > 200 && c.blue() > 200;
}
bool red(const QColor& c) {
    return c.red() > 240 && c.green() < 30 && c.blue() < 30;
}
bool green(const QColor& c) {
    return c.red() < 30 && c.green() > 240 && c.blue() < 30;
}

// Panel areas of the 1200-pixel-wide picture.
const QRect LIE_PLOT(60, 90, 1080, 200);
const QRect SPECTROGRAM(60, 360, 1080, 192);
const QRect RELIEF(60, 622, 560, 300);

} // namespace

TEST(ReportPicture, DrawsTheWholeInputAndTheLiveViews) {
    const fs::path png = scratch("report_test.png");
    fs::remove(png);
    const Outcome r = analyze("", "--png '" + png.string() + "' '" SAMPLE_WAV "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    const QImage image(QString::fromStdString(png.string()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 1200);
    EXPECT_GT(count(image, LIE_PLOT, cyan), 1000);
    EXPECT_GT(count(image, SPECTROGRAM, red), 1000);
    EXPECT_GT(count(image, SPECTROGRAM, green), 1000);
    // The relief: raised bands in the ramp's colours over its dark plane.
    EXPECT_GT(count(image, RELIEF, red), 100);
    fs::remove(png);
}

TEST(ReportPicture, WithoutGlTheReliefIsMissingAndTheRestIsDrawn) {
    const fs::path png = scratch("report_nogl.png");
    fs::remove(png);
    // No EGL driver can be found.
    const Outcome r = analyze("__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json",
                              "--png '" + png.string() + "' '" SAMPLE_WAV "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("veraxo-analyze: warning: no GL context"), std::string::npos) << r.err;
    const QImage image(QString::fromStdString(png.string()));
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(count(image, LIE_PLOT, cyan), 1000);
    EXPECT_GT(count(image, SPECTROGRAM, red), 1000);
    EXPECT_EQ(count(image, RELIEF, red), 0);
    fs::remove(png);
}

TEST(ReportPicture, UnwritablePathIsAnOutputError) {
    const Outcome r = analyze("", "--png /nonexistent-dir/report.png '" SAMPLE_WAV "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("veraxo-analyze: /nonexistent-dir/report.png: cannot write the picture"),
              std::string::npos)
        << r.err;
}

TEST(ReportPicture, LongInputsAreMergedInTimeOrder) {
    // More frames than columns: columns merge, and the step from 0 to 1 stays in the middle.
    ReportPicture report("merge");
    const float spectrum[32] = {};
    const int frames = 5 * ReportPicture::MAX_COLUMNS;
    for (int i = 0; i < frames; ++i) {
        const float level = i < frames / 2 ? 0.0f : 1.0f;
        report.onLieLevel(&level, 1);
        report.onSpectrum(spectrum, 32);
    }
    const fs::path png = scratch("report_merge.png");
    std::string warning, error;
    ASSERT_TRUE(report.write(png.string(), warning, error)) << error;
    const QImage image(QString::fromStdString(png.string()));
    ASSERT_FALSE(image.isNull());
    // Levels 0 and 1, kept 8 pixels inside the plot.
    const int bottom = LIE_PLOT.bottom() - 8;
    const int top = bottom - (LIE_PLOT.height() - 16);
    for (int x : {LIE_PLOT.left() + 20, LIE_PLOT.left() + LIE_PLOT.width() / 2 - 20}) {
        EXPECT_TRUE(cyan(image.pixelColor(x, bottom))) << x;
        EXPECT_FALSE(cyan(image.pixelColor(x, top))) << x;
    }
    for (int x : {LIE_PLOT.left() + LIE_PLOT.width() / 2 + 20, LIE_PLOT.right() - 20}) {
        EXPECT_TRUE(cyan(image.pixelColor(x, top))) << x;
        EXPECT_FALSE(cyan(image.pixelColor(x, bottom))) << x;
    }
    fs::remove(png);
}
