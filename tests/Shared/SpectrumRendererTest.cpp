// Pictures of the relief rendered on a headless EGL context: cleared colour, flat relief, raised red
// lines with the lowest band at height 0, bar masks over the background, and the present failure.

#include <cmath>

#include <QImage>
#include <gtest/gtest.h>

#include "Shared/HeadlessContext.h"
#include "Shared/ImageResources.h"
#include "Shared/SpectrumHistory.h"
#include "Shared/SpectrumRenderer.h"

using namespace SpectrumConstants;

namespace {

// About the relief's proportions in the app, so that every bar's column is in view.
const int W = 560;
const int H = 300;
const float STEP = 5.0f / 12.0f;

struct Pixel {
    int x, y;
};

// Where a point in the relief's model coordinates lands in the picture (top row 0).
Pixel projectRelief(double x, double y, double z) {
    const double a = -80.0 * M_PI / 180.0;
    const double ye = y * std::cos(a) - z * std::sin(a) - 1.7;
    const double ze = y * std::sin(a) + z * std::cos(a) - 85.0;
    const double ymax = std::tan(5.0 * M_PI / 180.0);
    const double xmax = ymax * W / H;
    const double nx = (x / -ze) / xmax;
    const double ny = (ye / -ze) / ymax;
    return {static_cast<int>((nx + 1) / 2 * W), static_cast<int>(H - (ny + 1) / 2 * H)};
}

// Where a point of the background plane (z = -90) lands.
Pixel projectBackground(double x, double y) {
    const double ymax = std::tan(5.0 * M_PI / 180.0);
    const double xmax = ymax * W / H;
    return {static_cast<int>((x / 90.0 / xmax + 1) / 2 * W),
            static_cast<int>(H - (y / 90.0 / ymax + 1) / 2 * H)};
}

QColor at(const QImage& image, Pixel p) {
    return image.pixelColor(p.x, p.y);
}

bool isBlack(const QColor& c) {
    return c.red() == 0 && c.green() == 0 && c.blue() == 0;
}

// The model y of the line written k blocks before the newest.
float lineY(int k) {
    float y = 20.0f;
    for (int i = 0; i < LINES - 1 - k; ++i)
        y = y - STEP;
    return y;
}

class SpectrumRender : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(_context.create()) << _context.error();
        _renderer.reset(new SpectrumRenderer);
        ASSERT_TRUE(_renderer->initialize(W, H, ImageResources::named("texture.png")));
    }
    void TearDown() override { _renderer.reset(); }

    QImage render() {
        _history.snapshot(_frame);
        _renderer->redraw(_frame);
        return _renderer->readImage();
    }
    void feed(float value, int blocks) {
        float block[SAMPLES];
        for (float& v : block)
            v = value;
        for (int i = 0; i < blocks; ++i)
            _history.newData(block, SAMPLES);
    }

    HeadlessContext _context;
    std::unique_ptr<SpectrumRenderer> _renderer;
    SpectrumHistory _history;
    SpectrumFrame _frame;
};

} // namespace

TEST_F(SpectrumRender, ClearedReliefIsFlatInTheClearedColour) {
    const QImage image = render();
    ASSERT_EQ(image.size(), QSize(W, H));
    for (float y : {18.0f, 5.0f, -5.0f, -18.0f})
        for (float x : {-8.0f, 0.0f, 8.0f})
            EXPECT_EQ(at(image, projectRelief(x, y, 0.0)), QColor(16, 16, 32)) << x << ", " << y;
    // Just above the far edge of a flat relief lies the background, not the relief.
    EXPECT_NE(at(image, projectRelief(0.0, 20.0, 1.0)), QColor(16, 16, 32));
    // Bars at 0: the texture is hidden above y = 0 in every bar's column.
    for (int b = 0; b < BARS; ++b) {
        const double x = -15.15 + 3.03 * b + 1.5;
        EXPECT_TRUE(isBlack(at(image, projectBackground(x, 4.0)))) << "bar " << b;
    }
}

TEST_F(SpectrumRender, RaisedLinesAreRedAndTheirFirstBandStaysAtZero) {
    // Forty raised lines, then forty of zeros in front of them (the nearest lines are wider than
    // the view, so the raised block sits where it is seen whole).
    feed(1.0f, 40);
    feed(0.0f, 40);
    const QImage image = render();
    if (qEnvironmentVariableIsSet("VERAXO_SAVE_PICTURES"))
        image.save("relief_raised.png");
    for (int k = 45; k < 75; k += 3) {
        const double y = lineY(k) - STEP / 2;
        EXPECT_EQ(at(image, projectRelief(0.0, y, 2.0)), QColor(255, 0, 0)) << "line " << k;
        EXPECT_EQ(at(image, projectRelief(-9.0, y, 2.0)), QColor(255, 0, 0)) << "line " << k;
        // Where band 0 would stand at full height there is no relief surface.
        EXPECT_NE(at(image, projectRelief(-9.95, y, 2.0)).red(), 255) << "line " << k;
    }
    // The foot of the nearest raised line at the left edge: height 0 in the ramp's colour for 0,
    // barely mixed with the red of band 1.
    const QColor foot = at(image, projectRelief(-9.98, lineY(40), 0.0));
    EXPECT_NEAR(foot.red(), 16, 12);
    EXPECT_NEAR(foot.green(), 16, 2);
    EXPECT_NEAR(foot.blue(), 48, 2);
    // Zeros that arrived as data are in the ramp's colour, a little bluer than cleared lines.
    EXPECT_EQ(at(image, projectRelief(0.0, lineY(20), 0.0)), QColor(16, 16, 48));
}

TEST_F(SpectrumRender, LeftoverCurrentColourDoesNotTintTheBackground) {
    const QImage first = render();
    // What drawing with colour arrays may leave behind as the current colour.
    glColor4ub(0, 0, 0, 255);
    const QImage second = render();
    // Beside the relief, below the bars: the texture shows.
    const Pixel p = projectBackground(-13.5, -2.2);
    EXPECT_FALSE(isBlack(at(first, p)));
    EXPECT_EQ(at(second, p), at(first, p));
}

TEST_F(SpectrumRender, BarMasksStandAtTheBarLevels) {
    feed(1.0f, 1);
    const QImage image = render();
    // Bars 0-4 and 6-9 at about 0.6149 (masks from 4.92 up), bar 5 at about 0.7918 (from 6.33 up).
    for (int b = 0; b < BARS; ++b) {
        const double x = -15.15 + 3.03 * b + 1.5;
        EXPECT_FALSE(isBlack(at(image, projectBackground(x, 4.6)))) << "bar " << b;
        EXPECT_TRUE(isBlack(at(image, projectBackground(x, 6.8)))) << "bar " << b;
        EXPECT_EQ(isBlack(at(image, projectBackground(x, 5.8))), b != 5) << "bar " << b;
    }
}

TEST_F(SpectrumRender, SwapBuffersReportsAMissingFramebuffer) {
    SpectrumRenderer unmade;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(unmade.swapBuffers(0, W, H));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Failed to swap renderbuffer in -[SpectrumView swapBuffers]\n");

    GLuint target = 0, colour = 0;
    SpectrumRenderer::bindColourFramebuffer(target, colour, W, H);
    render();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(_renderer->swapBuffers(target, W, H));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    glDeleteFramebuffers(1, &target);
    glDeleteRenderbuffers(1, &colour);
}

TEST_F(SpectrumRender, MissingBackgroundPictureFailsInitialisation) {
    SpectrumRenderer renderer;
    EXPECT_FALSE(renderer.initialize(W, H, QImage()));
}
