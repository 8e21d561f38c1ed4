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

#include "OutputFile.h"
#include "Shared/HeadlessContext.h"
#include "Shared/SpectrumHistory.h"
#include "Shared/SpectrumRenderer.h"
#include "app/GraphView.h"
#include "app/ImageResources.h"
#include "app/LieIndicator.h"

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

} // namespace

namespace {

// Keeps the tool's standard error to its own messages: Qt's note about a missing runtime directory,
// which a headless run always meets, is dropped.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (message.startsWith(QStringLiteral("QStandardPaths:")))
        return;
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

bool ReportPicture::write(const std::string& path, std::string& warning, std::string& error) {
    const QtMessageHandler previousHandler = qInstallMessageHandler(quietMessages);
    const bool written = draw(path, warning, error);
    qInstallMessageHandler(previousHandler);
    return written;
}

bool ReportPicture::draw(const std::string& path, std::string& warning, std::string& error) {
    std::unique_ptr<QApplication> app;
    static int argc = 1;
    static char name[] = "veraxo-analyze";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        // The report never shows a window, so it needs no display: the user's platform choice (a
        // display that is absent, a plug-in that does not load) would only make Qt abort. The relief
        // draws on its own EGL context, which the offscreen platform does not touch.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_QPA_OFFSCREEN_NO_GLX", "1");
        app.reset(new QApplication(argc, argv));
    }

    const Data& d = *_d;
    const int columns = static_cast<int>(d.counts.size());
    const double seconds = static_cast<double>(d.frames) * FRAME_SECONDS;

    const int lieTop = 90, lieHeight = 200;
    const int specTop = lieTop + lieHeight + 70, specHeight = 192;
    const int liveTop = specTop + specHeight + 70;
    const int height = liveTop + RELIEF_SIZE.height() + 30;
    QImage picture(PICTURE_WIDTH, height, QImage::Format_RGB32);
    picture.fill(BACKGROUND);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);

    QFont font = p.font();
    font.setFamily(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(20);
    font.setBold(true);
    p.setFont(font);
    p.setPen(TEXT);
    p.drawText(QPointF(MARGIN, 36), QString::fromStdString(d.title));
    font.setPixelSize(13);
    font.setBold(false);
    p.setFont(font);
    const QString summary =
        d.frames > 0
            ? QString::asprintf("%.3f s, %lld frames, mean lie level %.3f, peak %.3f", seconds, d.frames,
                                d.lieTotal / static_cast<double>(d.frames), static_cast<double>(d.peak))
            : QStringLiteral("no whole frame in the input");
    p.drawText(QPointF(MARGIN, 58), summary);

    // Lie level over the whole input, 0 to 1 with the 0.7 mark.
    drawPanelTitle(p, lieTop - 10, QStringLiteral("Lie level"));
    const QRect liePlot(MARGIN, lieTop, PLOT_WIDTH, lieHeight);
    p.fillRect(liePlot, PANEL);
    drawTimeAxis(p, liePlot, seconds);
    font.setPixelSize(11);
    p.setFont(font);
    for (double v : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        const double y = levelY(liePlot, v);
        p.setPen(FAINT);
        p.drawLine(QPointF(liePlot.left(), y), QPointF(liePlot.right(), y));
        p.setPen(TEXT);
        p.drawText(QRectF(0, y - 7, MARGIN - 6, 14), Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
    p.setPen(QPen(QColor::fromRgbF(1.0f, 0.3f, 0.2f, 0.7f), 1.5));
    const double refY = levelY(liePlot, 0.7);
    p.drawLine(QPointF(liePlot.left(), refY), QPointF(liePlot.right(), refY));
    if (columns > 0) {
        QPainterPath trace;
        for (int i = 0; i < columns; ++i) {
            const double v = std::clamp(d.lieSums[i] / d.counts[i], -0.05, 1.05);
            const double x = liePlot.left() + (i + 0.5) * liePlot.width() / columns;
            const double y = levelY(liePlot, v);
            if (i == 0)
                trace.moveTo(x, y);
            else
                trace.lineTo(x, y);
        }
        p.setClipRect(liePlot);
        p.setPen(QPen(QColor(0, 255, 255), 2.0));
        p.drawPath(trace);
        p.setClipping(false);
    }

    // Spectrogram: one column per whole-input column, band 0 at the bottom.
    drawPanelTitle(p, specTop - 10, QStringLiteral("Log-mel spectrum (32 bands, 200-3400 Hz)"));
    const QRect specPlot(MARGIN, specTop, PLOT_WIDTH, specHeight);
    QImage spectrogram(std::max(columns, 1), SAMPLES, QImage::Format_RGB32);
    spectrogram.fill(rampColour(0.0f));
    for (int i = 0; i < columns; ++i)
        for (int b = 0; b < SAMPLES; ++b)
            spectrogram.setPixelColor(
                i, SAMPLES - 1 - b,
                rampColour(static_cast<float>(d.bandSums[i * SAMPLES + b] / d.counts[i])));
    p.drawImage(specPlot, spectrogram);
    drawTimeAxis(p, specPlot, seconds);

    // The live views as they stand at the end of the input.
    drawPanelTitle(p, liveTop - 10, QStringLiteral("Live views at the end of the input"));
    const QRect reliefRect(QPoint(MARGIN, liveTop), RELIEF_SIZE);
    HeadlessContext context;
    bool reliefDrawn = false;
    if (context.create()) {
        SpectrumRenderer renderer;
        if (renderer.initialize(RELIEF_SIZE.width(), RELIEF_SIZE.height(),
                                ImageResources::named(QStringLiteral("texture.png"), 2.0))) {
            std::unique_ptr<SpectrumFrame> frame(new SpectrumFrame);
            _d->relief.snapshot(*frame);
            renderer.redraw(*frame);
            p.drawImage(reliefRect, renderer.readImage());
            reliefDrawn = true;
        } else {
            warning = "the relief could not be set up on the GL context";
        }
    } else {
        warning = "no GL context (" + context.error() + ")";
    }
    if (!reliefDrawn) {
        p.fillRect(reliefRect, PANEL);
        p.setPen(TEXT);
        font.setPixelSize(14);
        p.setFont(font);
        p.drawText(reliefRect, Qt::AlignCenter | Qt::TextWordWrap,
                   QStringLiteral("Spectrum relief not drawn:\n") + QString::fromStdString(warning));
    }

    const int side = MARGIN + RELIEF_SIZE.width() + 20;
    GraphView graph;
    graph.resize(GRAPH_SIZE);
    LieIndicator indicator;
    indicator.resize(INDICATOR_SIZE);
    for (float level : d.levels) {
        graph.newData(&level, 1);
        indicator.newData(&level, 1);
    }
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(TEXT);
    p.drawText(QPointF(side, liveTop + 14), QStringLiteral("Lie indicator"));
    indicator.render(&p, QPoint(side, liveTop + 22));
    p.setPen(TEXT);
    p.drawText(QPointF(side, liveTop + 90), QStringLiteral("Lie graph"));
    graph.render(&p, QPoint(side, liveTop + 98));
    p.end();

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
