// Cost of the live views' repaints: one spectrum relief frame (background, bars, grid and the 95
// strips) rendered on a headless GL context and read back, which waits for the software rasteriser to
// finish; and one lie-graph repaint at 320 points wide. Times are wall-clock (the rasteriser runs
// threads of its own); the counter percent_of_period is the part of the views' 100 ms repaint period
// that one repaint takes.

#include <chrono>
#include <memory>

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include "Shared/HeadlessContext.h"
#include "Shared/ImageResources.h"
#include "Shared/SpectrumHistory.h"
#include "Shared/SpectrumRenderer.h"
#include "views/GraphView.h"

namespace {

using Clock = std::chrono::steady_clock;

void reportShare(benchmark::State& state, Clock::time_point start) {
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double perRepaint = seconds / static_cast<double>(state.iterations());
    state.counters["percent_of_period"] = 100.0 * perRepaint / 0.1;
}

void BM_SpectrumFrame(benchmark::State& state) {
    HeadlessContext context;
    if (!context.create()) {
        state.SkipWithError(context.error().c_str());
        return;
    }
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    SpectrumRenderer renderer;
    if (!renderer.initialize(width, height, ImageResources::named("texture.png", 2.0))) {
        state.SkipWithError("the relief cannot be set up");
        return;
    }
    SpectrumHistory history;
    float block[SpectrumConstants::SAMPLES];
    for (int k = 0; k < SpectrumConstants::LINES; ++k) {
        for (int j = 0; j < SpectrumConstants::SAMPLES; ++j)
            block[j] = 0.4f + 0.4f * static_cast<float>((j * 7 + k * 3) % 11) / 11.0f;
        history.newData(block, SpectrumConstants::SAMPLES);
    }
    std::unique_ptr<SpectrumFrame> frame(new SpectrumFrame);
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        history.snapshot(*frame);
        renderer.redraw(*frame);
        benchmark::DoNotOptimize(renderer.readImage());
    }
    reportShare(state, start);
}
BENCHMARK(BM_SpectrumFrame)->Args({320, 170})->Args({640, 340})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GraphRepaint(benchmark::State& state) {
    const int width = 320;
    brel::circular_buffer<Signal::Sample> history(width);
    for (int i = 0; i < width; ++i)
        history.push_back(0.5f + 0.4f * static_cast<float>((i * 13) % 17) / 17.0f);
    QImage image(width, 80, QImage::Format_ARGB32_Premultiplied);
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        image.fill(Qt::black);
        QPainter painter(&image);
        GraphView::paintGraph(painter, QRectF(0, 0, width, 80), history);
    }
    reportShare(state, start);
}
BENCHMARK(BM_GraphRepaint)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
