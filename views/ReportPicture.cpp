// Gathering of the whole-input curves and the live views' state, and the drawing of the report.

#include "ReportPicture.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "Shared/HeadlessContext.h"
#include "Shared/ImageResources.h"
#include "Shared/SpectrumHistory.h"
#include "Shared/SpectrumRenderer.h"
#include "report/OutputFile.h"
#include "views/GraphView.h"
#include "views/LieIndicator.h"

using namespace SpectrumConstants;

namespace {

const int PICTURE_WIDTH = 1200;
const int MARGIN = 60;
const int PLOT_WIDTH = PICTURE_WIDTH - 2 * MARGIN;
const double FRAME_SECONDS = 128.0 / 8000.0;
const QColor BACKGROUND(18, 20, 30);
const QColor PANEL(8, 9, 14);
const QColor TEXT(220, 222, 230);
const QColor FAINT(70, 74, 90);

// The live views at the sizes the app shows them.
const QSize RELIEF_SIZE(560, 300);
const QSize GRAPH_SIZE(480, 140);
const QSize INDICATOR_SIZE(480, 36);

QColor rampColour(float v) {
    Color4u c;
    mapColor(v, c);
    return QColor(c.r, c.g, c.b);
}

// A tick step of 1, 2 or 5 times a power of ten that gives about `count` ticks over `span`.
double niceStep(double span, int count) {
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power)
            return m * power;
    return 10.0 * power;
}

QString timeLabel(double seconds, double step) {
    if (step >= 60.0 || seconds >= 600.0)
        return QString::asprintf("%d:%02d", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    return QString::number(seconds, 'g', 6) + QStringLiteral(" s");
}

} // namespace

struct ReportPicture::Data {
    std::string title;
    // Whole-input columns: sums over the frames each column covers.
    std::vector<double> lieSums;
    std::vector<double> bandSums;
    std::vector<int> counts;
    int framesPerColumn = 1;
    long long frames = 0;
    // The recording's length when known; else the heading gives the frames' span.
    double duration = -1.0;
    float lieLevel = 0.0f;
    float peak = 0.0f;
    double lieTotal = 0.0;
    // The live views' data, fed as the app feeds them.
    SpectrumHistory relief;
    std::vector<float> levels;

    void addFrame(const float* spectrum, int length) {
        if (counts.empty() || counts.back() == framesPerColumn) {
            if (static_cast<int>(counts.size()) == MAX_COLUMNS)
                halve();
            lieSums.push_back(0.0);
            bandSums.resize(bandSums.size() + SAMPLES, 0.0);
            counts.push_back(0);
        }
        lieSums.back() += lieLevel;
        double* bands = bandSums.data() + bandSums.size() - SAMPLES;
        for (int b = 0; b < SAMPLES && b < length; ++b)
            bands[b] += spectrum[b];
        ++counts.back();
    }

    void halve() {
        const std::size_t n = counts.size() / 2;
        for (std::size_t i = 0; i < n; ++i) {
            lieSums[i] = lieSums[2 * i] + lieSums[2 * i + 1];
            counts[i] = counts[2 * i] + counts[2 * i + 1];
            for (int b = 0; b < SAMPLES; ++b)
                bandSums[i * SAMPLES + b] =
                    bandSums[2 * i * SAMPLES + b] + bandSums[(2 * i + 1) * SAMPLES + b];
        }
        lieSums.resize(n);
        counts.resize(n);
        bandSums.resize(n * SAMPLES);
        framesPerColumn *= 2;
    }
};

ReportPicture::ReportPicture(const std::string& title) : _d(new Data) {
    _d->title = title;
    _d->lieSums.reserve(MAX_COLUMNS);
    _d->counts.reserve(MAX_COLUMNS);
    _d->bandSums.reserve(static_cast<std::size_t>(MAX_COLUMNS) * SAMPLES);
}

ReportPicture::~ReportPicture() = default;

void ReportPicture::onLieLevel(const Signal::Sample* data, int length) {
    if (length < 1)
        return;
    _d->lieLevel = data[0];
    _d->levels.push_back(data[0]);
    // Enough for the graph's width; older values have scrolled out of it.
    if (_d->levels.size() > 2 * static_cast<std::size_t>(GRAPH_SIZE.width()))
        _d->levels.erase(_d->levels.begin(), _d->levels.end() - GRAPH_SIZE.width());
}

void ReportPicture::onSpectrum(const Signal::Sample* data, int length) {
    _d->relief.newData(data, length);
    _d->addFrame(data, length);
    if (_d->frames == 0 || _d->lieLevel > _d->peak)
        _d->peak = _d->lieLevel;
    _d->lieTotal += _d->lieLevel;
    ++_d->frames;
}

namespace {

void drawPanelTitle(QPainter& p, int y, const QString& text) {
    p.setPen(TEXT);
    QFont font = p.font();
    font.setPixelSize(15);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QPointF(MARGIN, y), text);
}

// Levels 0 to 1 keep a little room from the plot's edges, so a trace at 0 or 1 stays whole.
double levelY(const QRect& plot, double v) {
    const int pad = 8;
    return plot.bottom() - pad - v * (plot.height() - 2 * pad);
}

void drawTimeAxis(QPainter& p, const QRect& plot, double seconds) {
    QFont font = p.font();
    font.setPixelSize(11);
    font.setBold(false);
    p.setFont(font);
    const double step = niceStep(std::max(seconds, FRAME_SECONDS), 8);
    for (double t = 0.0; t <= seconds + 1e-9; t += step) {
        const double x = plot.left() + (seconds > 0 ? t / seconds : 0.0) * plot.width();
        p.setPen(FAINT);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom() + 4));
        p.setPen(TEXT);
        p.drawText(QRectF(x - 40, plot.bottom() + 6, 80, 14), Qt::AlignHCenter | Qt::AlignTop,
                   timeLabel(t, step));
    }
}

// The layout, top to bottom: heading, lie level, spectrogram, live views.
const int LIE_TOP = 90, LIE_HEIGHT = 200;
const int SPEC_TOP = LIE_TOP + LIE_HEIGHT + 70, SPEC_HEIGHT = 192;
const int LIVE_TOP = SPEC_TOP + SPEC_HEIGHT + 70;
const int PICTURE_HEIGHT = LIVE_TOP + RELIEF_SIZE.height() + 30;

// Qt wants an application before anything draws; the report makes one when the caller has none.
std::unique_ptr<QApplication> applicationIfNone() {
    static int argc = 1;
    static char name[] = "veraxo-analyze";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return nullptr;
    // The report never shows a window, so it needs no display: the user's platform choice (a display
    // that is absent, a plug-in that does not load) would only make Qt abort. The relief draws on its
    // own EGL context, which the offscreen platform does not touch.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QPA_OFFSCREEN_NO_GLX", "1");
    return std::unique_ptr<QApplication>(new QApplication(argc, argv));
}

void useFont(QPainter& p, QFont font, int pixelSize, bool bold) {
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    p.setFont(font);
}

void drawHeading(QPainter& p, const QFont& font, const QString& title, const QString& summary) {
    useFont(p, font, 20, true);
    p.setPen(TEXT);
    p.drawText(QPointF(MARGIN, 36), title);
    useFont(p, font, 13, false);
    p.drawText(QPointF(MARGIN, 58), summary);
}

// Lie level over the whole input, 0 to 1 with the 0.7 mark: each column's mean.
void drawLieLevel(QPainter& p, const QFont& font, double seconds, const std::vector<double>& lieSums,
                  const std::vector<int>& counts) {
    drawPanelTitle(p, LIE_TOP - 10, QStringLiteral("Lie level"));
    const QRect plot(MARGIN, LIE_TOP, PLOT_WIDTH, LIE_HEIGHT);
    p.fillRect(plot, PANEL);
    drawTimeAxis(p, plot, seconds);
    useFont(p, font, 11, false);
    for (double v : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        const double y = levelY(plot, v);
        p.setPen(FAINT);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(TEXT);
        p.drawText(QRectF(0, y - 7, MARGIN - 6, 14), Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
    p.setPen(QPen(QColor::fromRgbF(1.0f, 0.3f, 0.2f, 0.7f), 1.5));
    const double refY = levelY(plot, 0.7);
    p.drawLine(QPointF(plot.left(), refY), QPointF(plot.right(), refY));
    const int columns = static_cast<int>(counts.size());
    if (columns == 0)
        return;
    QPainterPath trace;
    for (int i = 0; i < columns; ++i) {
        const double v = std::clamp(lieSums[i] / counts[i], -0.05, 1.05);
        const double x = plot.left() + (i + 0.5) * plot.width() / columns;
        const double y = levelY(plot, v);
        if (i == 0)
            trace.moveTo(x, y);
        else
            trace.lineTo(x, y);
    }
    p.setClipRect(plot);
    p.setPen(QPen(QColor(0, 255, 255), 2.0));
    p.drawPath(trace);
    p.setClipping(false);
}

// Spectrogram: one pixel column per whole-input column, band 0 at the bottom.
void drawSpectrogram(QPainter& p, double seconds, const std::vector<double>& bandSums,
                     const std::vector<int>& counts) {
    drawPanelTitle(p, SPEC_TOP - 10, QStringLiteral("Log-mel spectrum (32 bands, 200-3400 Hz)"));
    const QRect plot(MARGIN, SPEC_TOP, PLOT_WIDTH, SPEC_HEIGHT);
    const int columns = static_cast<int>(counts.size());
    QImage spectrogram(std::max(columns, 1), SAMPLES, QImage::Format_RGB32);
    spectrogram.fill(rampColour(0.0f));
    for (int i = 0; i < columns; ++i)
        for (int b = 0; b < SAMPLES; ++b)
            spectrogram.setPixelColor(i, SAMPLES - 1 - b,
                                      rampColour(static_cast<float>(bandSums[i * SAMPLES + b] / counts[i])));
    p.drawImage(plot, spectrogram);
    drawTimeAxis(p, plot, seconds);
}

// The relief as it stands, rendered on a headless GL context; without one, its place says why and
// the reason goes to `warning`.
void drawRelief(QPainter& p, const QFont& font, SpectrumHistory& relief, std::string& warning) {
    const QRect rect(QPoint(MARGIN, LIVE_TOP), RELIEF_SIZE);
    HeadlessContext context;
    if (context.create()) {
        SpectrumRenderer renderer;
        if (renderer.initialize(RELIEF_SIZE.width(), RELIEF_SIZE.height(),
                                ImageResources::named(QStringLiteral("texture.png"), 2.0))) {
            std::unique_ptr<SpectrumFrame> frame(new SpectrumFrame);
            relief.snapshot(*frame);
            renderer.redraw(*frame);
            p.drawImage(rect, renderer.readImage());
            return;
        }
        warning = "the relief could not be set up on the GL context";
    } else {
        warning = "no GL context (" + context.error() + ")";
    }
    p.fillRect(rect, PANEL);
    p.setPen(TEXT);
    useFont(p, font, 14, false);
    p.drawText(rect, Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("Spectrum relief not drawn:\n") + QString::fromStdString(warning));
}

// The lie indicator and the lie graph, fed the levels the app would have fed them, beside the relief.
void drawLieViews(QPainter& p, const QFont& font, const std::vector<float>& levels) {
    const int side = MARGIN + RELIEF_SIZE.width() + 20;
    GraphView graph;
    graph.resize(GRAPH_SIZE);
    LieIndicator indicator;
    indicator.resize(INDICATOR_SIZE);
    for (float level : levels) {
        graph.newData(&level, 1);
        indicator.newData(&level, 1);
    }
    useFont(p, font, 12, false);
    p.setPen(TEXT);
    p.drawText(QPointF(side, LIVE_TOP + 14), QStringLiteral("Lie indicator"));
    indicator.render(&p, QPoint(side, LIVE_TOP + 22));
    p.setPen(TEXT);
    p.drawText(QPointF(side, LIVE_TOP + 90), QStringLiteral("Lie graph"));
    graph.render(&p, QPoint(side, LIVE_TOP + 98));
}

bool savePng(const QImage& picture, const std::string& path, std::string& error) {
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) {
        error = "cannot encode the picture as PNG";
        return false;
    }
    OutputFile file;
    if (!file.open(path) ||
        std::fwrite(png.constData(), 1, static_cast<std::size_t>(png.size()), file.stream()) !=
            static_cast<std::size_t>(png.size()) ||
        !file.commit()) {
        error = "cannot write the picture (" +
                (file.error().empty() ? std::string(std::strerror(errno)) : file.error()) + ")";
        return false;
    }
    return true;
}

// Keeps the tool's standard error to its own messages: Qt's note about a missing runtime directory,
// which a headless run always meets, is dropped.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (message.startsWith(QStringLiteral("QStandardPaths:")))
        return;
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

void ReportPicture::setDuration(double seconds) {
    _d->duration = seconds;
}

bool ReportPicture::write(const std::string& path, std::string& warning, std::string& error) {
    const QtMessageHandler previousHandler = qInstallMessageHandler(quietMessages);
    const bool written = draw(path, warning, error);
    qInstallMessageHandler(previousHandler);
    return written;
}

bool ReportPicture::draw(const std::string& path, std::string& warning, std::string& error) {
    const std::unique_ptr<QApplication> app = applicationIfNone();
    Data& d = *_d;
    const double seconds = static_cast<double>(d.frames) * FRAME_SECONDS;

    QImage picture(PICTURE_WIDTH, PICTURE_HEIGHT, QImage::Format_RGB32);
    picture.fill(BACKGROUND);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = p.font();
    font.setFamily(QStringLiteral("DejaVu Sans"));

    const QString summary =
        d.frames > 0
            ? QString::asprintf("%.3f s, %lld frames, mean lie level %.3f, peak %.3f",
                                d.duration >= 0.0 ? d.duration : seconds, d.frames,
                                d.lieTotal / static_cast<double>(d.frames), static_cast<double>(d.peak))
            : QStringLiteral("no whole frame in the input");
    drawHeading(p, font, QString::fromStdString(d.title), summary);
    drawLieLevel(p, font, seconds, d.lieSums, d.counts);
    drawSpectrogram(p, seconds, d.bandSums, d.counts);
    drawPanelTitle(p, LIVE_TOP - 10, QStringLiteral("Live views at the end of the input"));
    drawRelief(p, font, d.relief, warning);
    drawLieViews(p, font, d.levels);
    p.end();
    return savePng(picture, path, error);
}
