// The lie-level graph: hand-over of values, history, and the QPainter drawing of trace and reference.

#include "GraphView.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>

GraphView::GraphView(QWidget* parent)
    : QWidget(parent), _timer(this, &GraphView::onTimer), _incoming(LevelHandover::CAPACITY) {
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    resizeHistory(width());
}

GraphView::~GraphView() = default;

void GraphView::resizeHistory(int size) {
    // A view narrower than one point still keeps one value.
    _bufferSize = size > 0 ? size : 1;
    std::unique_ptr<brel::circular_buffer<Signal::Sample>> history(
        new brel::circular_buffer<Signal::Sample>(_bufferSize));
    // Room the history gains once values arrived holds nothing heard: it stays undrawn, not zero.
    const Signal::Sample unheard = _received ? std::numeric_limits<Signal::Sample>::quiet_NaN() : 0.0f;
    for (int i = 0; i < _bufferSize; ++i)
        history->push_back(unheard);
    if (_buffer)
        for (int pos = 0; pos < _buffer->size(); ++pos)
            history->push_back(_buffer->at(pos));
    _buffer = std::move(history);
    _stale = true;
}

void GraphView::clearData() {
    _handover.skip();
    _received = false;
    for (int i = 0; i < _bufferSize; ++i)
        _buffer->push_back(0.0f);
    _stale = true;
}

void GraphView::newData(const Signal::Sample* data, int length) noexcept {
    _bufferCount.fetch_add(1, std::memory_order_relaxed);
    // A block without values has nothing to append.
    if (!data || length < 1)
        return;
    int i = _modulo;
    while (i < 1) {
        _handover.push(data[i]);
        ++i;
    }
    _modulo = i - 1;
}

void GraphView::takeNewValues() {
    const int count = _handover.take(_incoming.data(), _bufferSize);
    _received = _received || count > 0;
    for (int i = 0; i < count; ++i)
        _buffer->push_back(_incoming[static_cast<std::size_t>(i)]);
}

void GraphView::resizeEvent(QResizeEvent*) {
    // Values still in the hand-over are newer than the whole history: they follow at the next paint.
    if (width() != _bufferSize && (width() > 0 || _bufferSize != 1))
        resizeHistory(width());
}

void GraphView::paintEvent(QPaintEvent*) {
    takeNewValues();
    _stale = false;
    QPainter painter(this);
    paintGraph(painter, QRectF(rect()), *_buffer);
}

namespace {

// The trace is stroked in vertical bands of this many points, each clipped to its band and drawn from
// the points within MARGIN of it. The antialiasing rasteriser keeps each pixel row's cells in a list
// it walks from the left, so one long stroke costs the square of its width; a band's pixels depend only
// on the outline near them (a flat cap or a miter join of the 3-point pen reaches a few points at
// most), so the bands give the same pixels as one stroke.
constexpr int BAND = 128;
constexpr int MARGIN = 32;

// Bands are clipped to whole points that fall on whole device pixels; otherwise the trace is stroked
// whole.
bool bandsFallOnPixels(const QPainter& painter, float x) {
    const QTransform t = painter.deviceTransform();
    const auto whole = [](qreal v) { return v == std::floor(v); };
    return t.type() <= QTransform::TxScale && whole(x) && whole(t.m11()) && whole(t.dx());
}

QPainterPath polyline(const std::vector<QPointF>& points, std::size_t first, std::size_t last) {
    QPainterPath path;
    path.moveTo(points[first]);
    for (std::size_t i = first + 1; i <= last; ++i)
        path.lineTo(points[i]);
    return path;
}

} // namespace

void GraphView::paintGraph(QPainter& painter, const QRectF& rect,
                           const brel::circular_buffer<Signal::Sample>& history) {
    const float x = static_cast<float>(rect.x());
    const float y = static_cast<float>(rect.y());
    const float w = static_cast<float>(rect.width());
    const float h = static_cast<float>(rect.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);

    QPen reference(QColor::fromRgbF(1.0f, 0.3f, 0.2f, 0.7f));
    reference.setWidthF(1.5);
    reference.setCapStyle(Qt::FlatCap);
    reference.setJoinStyle(Qt::MiterJoin);
    painter.setPen(reference);
    const float s = static_cast<float>(0.7 * static_cast<double>(h));
    const float yRef = (y + h) - s;
    QPainterPath line;
    line.moveTo(x, yRef);
    line.lineTo(x + w, yRef);
    painter.drawPath(line);

    QPen trace(QColor::fromRgbF(0.0f, 1.0f, 1.0f, 1.0f));
    trace.setWidthF(3.0);
    trace.setCapStyle(Qt::FlatCap);
    trace.setJoinStyle(Qt::MiterJoin);
    painter.setPen(trace);
    const int n = static_cast<int>(w);
    const float base = (y + h) - 2.0f;
    std::vector<QPointF> points;
    std::vector<int> positions;
    points.reserve(static_cast<std::size_t>(std::max(n, 0)));
    positions.reserve(points.capacity());
    for (int pos = 0; pos < n; ++pos) {
        const float v = pos < history.size() ? history.at(pos) : 0.0f;
        if (std::isnan(v))
            continue;
        const float yv = base - static_cast<float>(static_cast<double>(s) * static_cast<double>(v));
        points.emplace_back(x + static_cast<float>(pos), yv);
        positions.push_back(pos);
    }
    if (points.empty()) {
        // Nothing heard yet at any point: no trace.
    } else if (n <= BAND || !bandsFallOnPixels(painter, x)) {
        painter.drawPath(polyline(points, 0, points.size() - 1));
    } else {
        // Each band reaches from its left edge to the next one's; the outer bands reach on without end.
        const int far = 1 << 24;
        std::size_t first = 0;
        for (int left = 0; left < n; left += BAND) {
            const int right = left + BAND;
            // From the last point at or before MARGIN to the left, to the first at or past MARGIN to the
            // right: every segment and join near the band is there.
            while (first + 1 < points.size() && positions[first + 1] <= left - MARGIN)
                ++first;
            std::size_t last = first;
            while (last + 1 < points.size() && positions[last] < right + MARGIN)
                ++last;
            const int x0 = left == 0 ? -far : static_cast<int>(x) + left;
            const int x1 = right >= n ? far : static_cast<int>(x) + right;
            painter.save();
            painter.setClipRect(QRect(x0, -far, x1 - x0, 2 * far), Qt::IntersectClip);
            painter.drawPath(polyline(points, first, last));
            painter.restore();
        }
    }
    painter.restore();
}

void GraphView::onTimer() {
    // Without new values or a change here, the graph would repaint what it shows.
    if (_stale || _handover.pending())
        update();
}
