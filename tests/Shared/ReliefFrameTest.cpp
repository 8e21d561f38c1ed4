// The whole rendered relief, pixel by pixel: every one of the 95 strips must stand in its own screen band
// with its two lines' colours, so a strip that is missing, extra or drawn at another depth or from
// another line shows, wherever it lies. Each line is one flat value (band 0 aside, which is always 0),
// the oldest the highest, so every strip is a plane ribbon seen from above and none hides another. For
// every pixel the test casts the ray through its centre, takes the last strip drawn that it meets (the
// strips paint over each other in drawing order) and expects that strip's colour, blended between its
// two lines as GL shades it. Pixels on a strip's edge or near the ribbons' ends are left out.

#include <algorithm>
#include <cmath>

#include <QImage>
#include <gtest/gtest.h>

#include "Shared/HeadlessContext.h"
#include "Shared/ImageResources.h"
#include "Shared/SpectrumHistory.h"
#include "Shared/SpectrumRenderer.h"

using namespace SpectrumConstants;

namespace {

// Tall, so that each strip is several pixel rows high.
const int W = 320;
const int H = 1280;
const int STRIPS = LINES - 1;
// Allowed difference from the expected colour, on top of the colour's drift across the pixel.
const int TOLERANCE = 4;

struct Ribbon {
    double yFar, zFar, yNear, zNear;
    Color4u far, near;
};

struct Expected {
    int strip; // -1: no strip, -2: cannot tell
    double red, green, blue;
};

class ReliefModel {
public:
    explicit ReliefModel(const SpectrumFrame& frame) {
        const float step = 5.0f / 12.0f;
        float y = 20.0f;
        int line = frame.head;
        for (int s = 0; s < STRIPS; ++s) {
            const int next = (line + 1) % LINES;
            // Band 16 stands for the flat part of each line.
            const float far = frame.data[line * SAMPLES + 16];
            const float near = frame.data[next * SAMPLES + 16];
            _ribbons[s] = {y,
                           far + far,
                           y - step,
                           near + near,
                           frame.imgData[line * SAMPLES + 16],
                           frame.imgData[next * SAMPLES + 16]};
            y = y - step;
            line = next;
        }
        _ymax = std::tan(5.0 * M_PI / 180.0);
        _xmax = _ymax * W / H;
    }

    // What the ray through the point (px, py) of the picture (top row 0) meets last.
    Expected at(double px, double py) const {
        const double kx = (px / W * 2.0 - 1.0) * _xmax;
        const double ky = (1.0 - py / H * 2.0) * _ymax;
        const double c = std::cos(-80.0 * M_PI / 180.0), s = std::sin(-80.0 * M_PI / 180.0);
        for (int i = STRIPS - 1; i >= 0; --i) {
            const Ribbon& r = _ribbons[i];
            // Eye coordinates along the ribbon, linear in t from the far line (0) to the near one (1).
            const double ye0 = r.yFar * c - r.zFar * s - 1.7, ze0 = r.yFar * s + r.zFar * c - 85.0;
            const double ye1 = r.yNear * c - r.zNear * s - 1.7 - ye0;
            const double ze1 = r.yNear * s + r.zNear * c - 85.0 - ze0;
            // ye / -ze = ky
            const double t = -(ye0 + ky * ze0) / (ye1 + ky * ze1);
            if (t < -0.05 || t > 1.05)
                continue;
            const double x = kx * -(ze0 + t * ze1);
            if (std::fabs(x) > 10.5)
                continue;
            if (std::fabs(x) > 9.2 || t < 0.0 || t > 1.0)
                return {-2, 0, 0, 0};
            // GL interpolates colours perspective-correctly: the weight is t itself.
            return {i, r.far.r + t * (r.near.r - r.far.r), r.far.g + t * (r.near.g - r.far.g),
                    r.far.b + t * (r.near.b - r.far.b)};
        }
        return {-1, 0, 0, 0};
    }

private:
    Ribbon _ribbons[STRIPS];
    double _xmax, _ymax;
};

class ReliefFrame : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(_context.create()) << _context.error();
        _renderer.reset(new SpectrumRenderer);
        ASSERT_TRUE(_renderer->initialize(W, H, ImageResources::named("texture.png")));
    }
    void TearDown() override { _renderer.reset(); }

    HeadlessContext _context;
    std::unique_ptr<SpectrumRenderer> _renderer;
};

} // namespace

TEST_F(ReliefFrame, EveryStripFillsItsOwnScreenBandInItsLinesColours) {
    // The ring wraps: 37 lines more than it holds, so the oldest line shown is not at index 0. A line of
    // age a (0 the newest) holds 0.75 * a / 95: red and highest at the back, blue and flat at the front.
    SpectrumHistory history;
    const int blocks = LINES + 37;
    for (int i = 0; i < blocks; ++i) {
        const int age = blocks - 1 - i;
        float block[SAMPLES];
        for (float& v : block)
            v = age < LINES ? 0.75f * static_cast<float>(age) / 95.0f : 1.0f;
        history.newData(block, SAMPLES);
    }
    SpectrumFrame frame;
    history.snapshot(frame);
    ASSERT_EQ(frame.head, 37);
    _renderer->redraw(frame);
    const QImage image = _renderer->readImage();
    ASSERT_EQ(image.size(), QSize(W, H));
    if (qEnvironmentVariableIsSet("VERAXO_SAVE_PICTURES"))
        image.save("relief_frame.png");

    const ReliefModel model(frame);
    int checked[STRIPS] = {};
    int wrong[STRIPS] = {};
    int firstWrongX[STRIPS], firstWrongY[STRIPS];
    for (int py = 0; py < H; ++py) {
        for (int px = 0; px < W; ++px) {
            const Expected e = model.at(px + 0.5, py + 0.5);
            if (e.strip < 0)
                continue;
            // Only where the pixel's whole neighbourhood lies on the same strip; the colour may drift
            // across it by as much as it changes from the centre to the neighbours.
            bool steady = true;
            double drift = 0.0;
            for (const double d : {-0.7, 0.7}) {
                for (const Expected& n :
                     {model.at(px + 0.5 + d, py + 0.5), model.at(px + 0.5, py + 0.5 + d)}) {
                    steady = steady && n.strip == e.strip;
                    drift = std::max({drift, std::fabs(n.red - e.red), std::fabs(n.green - e.green),
                                      std::fabs(n.blue - e.blue)});
                }
            }
            if (!steady)
                continue;
            const double tolerance = TOLERANCE + drift;
            const QColor c = image.pixelColor(px, py);
            ++checked[e.strip];
            if (std::fabs(c.red() - e.red) > tolerance || std::fabs(c.green() - e.green) > tolerance ||
                std::fabs(c.blue() - e.blue) > tolerance) {
                if (wrong[e.strip]++ == 0) {
                    firstWrongX[e.strip] = px;
                    firstWrongY[e.strip] = py;
                }
            }
        }
    }
    for (int s = 0; s < STRIPS; ++s) {
        EXPECT_GE(checked[s], W) << "strip " << s << " (0 the farthest) has too few pixels to judge";
        EXPECT_EQ(wrong[s], 0) << "strip " << s << " (0 the farthest): " << wrong[s] << " of " << checked[s]
                               << " pixels wrong, the first at (" << (wrong[s] ? firstWrongX[s] : -1) << ", "
                               << (wrong[s] ? firstWrongY[s] : -1) << ")";
    }
}
