// The status bar's parts and the rules of its two warnings.

#include "StatusBar.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>

#include <cmath>

// The input level as a bar from -60 dBFS to 0 dBFS, green up to -12, amber up to -3, red above, with
// ticks every 20 dB labelled under it.
class LevelBar : public QWidget {
public:
    static constexpr int barHeight = 7;

    explicit LevelBar(QWidget* parent) : QWidget(parent) {
        setAccessibleName(tr("Input level"));
        fitToFont();
    }
    void setLevel(double decibels, bool active) {
        if (decibels == _decibels && active == _active)
            return;
        _decibels = decibels;
        _active = active;
        update(QRect(0, 0, width(), barHeight));
    }

protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::FontChange)
            fitToFont();
        QWidget::changeEvent(event);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(tickFont());
        // Room for half a label at either end, so the end ticks' labels stay whole.
        const int inset = metrics.horizontalAdvance(QStringLiteral("\u221260")) / 2;
        const QRect frame(inset, 0, width() - 2 * inset - 1, barHeight - 1);
        painter.fillRect(frame, QColor(40, 40, 48));
        if (_active) {
            const double fraction = qBound(0.0, (_decibels + 60.0) / 60.0, 1.0);
            const QColor colour = _decibels > -3.0    ? QColor(220, 40, 40)
                                  : _decibels > -12.0 ? QColor(230, 180, 40)
                                                      : QColor(60, 190, 80);
            painter.fillRect(QRect(frame.left(), frame.top(), int(frame.width() * fraction), frame.height()),
                             colour);
        }
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(frame);
        painter.setFont(tickFont());
        painter.setPen(palette().color(QPalette::WindowText));
        for (const int decibels : {-60, -40, -20, 0}) {
            const int x = frame.left() + frame.width() * (decibels + 60) / 60;
            painter.drawLine(x, frame.bottom() - 2, x, frame.bottom());
            const QString text =
                decibels == 0 ? QStringLiteral("0") : QStringLiteral("\u2212%1").arg(-decibels);
            const int w = metrics.horizontalAdvance(text);
            painter.drawText(QRect(x - w / 2, barHeight, w, metrics.height()), Qt::AlignCenter, text);
        }
    }

private:
    QFont tickFont() const {
        QFont small = font();
        if (font().pointSizeF() > 0)
            small.setPointSizeF(qMax(7.0, font().pointSizeF() * 0.8));
        return small;
    }
    // Four labels with room between them, and the bar over them.
    void fitToFont() {
        const QFontMetrics metrics(tickFont());
        const int label = metrics.horizontalAdvance(QStringLiteral("\u221260"));
        setFixedSize(4 * label + 3 * 4, barHeight + metrics.height());
    }

    double _decibels = -120.0;
    bool _active = false;
};

// A name that may not fit: shortened in the middle ("an_interv\u2026lant.wav"), so both its start and
// its extension stay in sight; the whole of it is the tooltip.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent) : QLabel(parent) {}
    QSize minimumSizeHint() const override { return QSize(20, QLabel::minimumSizeHint().height()); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect room = contentsRect();
        painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width()));
    }
};

StatusBar::StatusBar(LevelMeter* meter, QWidget* parent)
    : QStatusBar(parent), _meter(meter), _source(new ElidedLabel(this)), _stateLabel(new QLabel(this)),
      _elapsed(new QLabel(this)), _level(new LevelBar(this)), _peak(new QLabel(this)),
      _warningLabel(new QLabel(this)) {
    setObjectName(QStringLiteral("statusBar"));
    setSizeGripEnabled(false);
    // The colours of the main screen, so the bar reads as part of it.
    QPalette dark = palette();
    dark.setColor(QPalette::Window, QColor(24, 24, 40));
    dark.setColor(QPalette::WindowText, QColor(215, 215, 225));
    dark.setColor(QPalette::Mid, QColor(110, 110, 130));
    setPalette(dark);
    setAutoFillBackground(true);
    setContentsMargins(4, 0, 4, 0);
    _source->setObjectName(QStringLiteral("statusSource"));
    _source->setMinimumWidth(20);
    _stateLabel->setObjectName(QStringLiteral("statusState"));
    _elapsed->setObjectName(QStringLiteral("statusElapsed"));
    _level->setObjectName(QStringLiteral("statusLevel"));
    _peak->setObjectName(QStringLiteral("statusPeak"));
    _peak->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    _warningLabel->setObjectName(QStringLiteral("statusWarning"));
    QPalette warningPalette = _warningLabel->palette();
    warningPalette.setColor(QPalette::Window, QColor(150, 90, 0));
    warningPalette.setColor(QPalette::WindowText, Qt::white);
    _warningLabel->setPalette(warningPalette);
    _warningLabel->setAutoFillBackground(true);
    _warningLabel->setMargin(1);
    _warningLabel->setContentsMargins(4, 0, 4, 0);
    // The source may shrink to nothing on a narrow window; the state, time and level stay.
    addWidget(_source, 1);
    addPermanentWidget(_warningLabel);
    addPermanentWidget(_stateLabel);
    addPermanentWidget(_elapsed);
    addPermanentWidget(_level);
    addPermanentWidget(_peak);
    _timer.setInterval(updateIntervalMs);
    connect(&_timer, &QTimer::timeout, this, &StatusBar::advance);
    refresh();
}

void StatusBar::setSource(const QString& name, const QString& detail) {
    _sourceName = name;
    _sourceDetail = detail.isEmpty() ? name : detail;
    refresh();
}

void StatusBar::resetElapsed() {
    setElapsed(0);
}

void StatusBar::setElapsed(long long samples) {
    _samplesHeard = samples;
    refresh();
}

void StatusBar::setState(State state) {
    if (state == Listening && _state != Listening) {
        _meter->take(); // what arrived before this start belongs to no period
        _quietSamples = 0;
        _sinceClip = -1;
        _timer.start();
    } else if (state != Listening && _state == Listening) {
        advance(); // the last samples heard count in the elapsed time
        _timer.stop();
    }
    _state = state;
    if (_state != Listening) {
        _warning = NoWarning;
        _levelDb = -120.0;
    }
    refresh();
}

void StatusBar::advance() {
    if (_state != Listening)
        return;
    const LevelMeter::Reading reading = _meter->take();
    _samplesHeard += reading.samples;
    _levelDb = LevelMeter::decibels(reading.peak);

    if (reading.clipped)
        _sinceClip = 0;
    else if (_sinceClip >= 0)
        _sinceClip += reading.samples;
    if (_sinceClip > (long long)_sampleRate * clipHoldMs / 1000)
        _sinceClip = -1;

    if (_levelDb < quietLevelDb)
        _quietSamples += reading.samples;
    else if (reading.samples > 0)
        _quietSamples = 0;

    if (_sinceClip >= 0)
        _warning = Clipping;
    else if (_quietSamples >= (long long)_sampleRate * quietSeconds)
        _warning = TooQuiet;
    else
        _warning = NoWarning;
    refresh();
}

QString StatusBar::sourceText() const {
    return _sourceName;
}

QString StatusBar::stateText() const {
    switch (_state) {
    case Listening:
        return tr("Listening");
    case Paused:
        return tr("Paused");
    case Ended:
        return tr("Ended");
    case Stopped:
        break;
    }
    return tr("Stopped");
}

QString StatusBar::elapsedText() const {
    return clockText(_sampleRate > 0 ? _samplesHeard / _sampleRate : 0);
}

QString StatusBar::clockText(long long seconds) {
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString StatusBar::peakText() const {
    if (_state != Listening || _levelDb <= -120.0)
        return QString();
    const long long decibels = std::llround(_levelDb);
    return decibels < 0 ? tr("%1 dB").arg(QStringLiteral("\u2212%1").arg(-decibels)) : tr("0 dB");
}

QString StatusBar::warningText() const {
    switch (_warning) {
    case Clipping:
        return tr("Clipping");
    case TooQuiet:
        return tr("Too quiet");
    case NoWarning:
        break;
    }
    return QString();
}

void StatusBar::refresh() {
    _source->setText(_sourceName);
    _source->setToolTip(_sourceDetail);
    _stateLabel->setText(stateText());
    _elapsed->setText(elapsedText());
    if (_samplesHeard != _announcedHeard) {
        _announcedHeard = _samplesHeard;
        emit elapsedChanged(_samplesHeard);
    }
    const bool active = _state == Listening;
    _level->setLevel(_levelDb, active);
    const QString level =
        active && _levelDb > -120.0 ? tr("%1 dBFS").arg(_levelDb, 0, 'f', 1) : tr("no signal");
    _level->setToolTip(tr("Input peak level: %1").arg(level));
    _level->setAccessibleDescription(level);
    _peak->setText(peakText());
    _peak->setToolTip(_level->toolTip());
    const QString warning = warningText();
    _warningLabel->setText(warning);
    // The bar is narrow: the label says what, its tooltip says why it matters.
    QString detail;
    if (_warning == Clipping)
        detail = tr("Samples reach full scale: the input is too loud and distorted.");
    else if (_warning == TooQuiet)
        detail = tr("The input has stayed under %1 dBFS for %2 seconds.")
                     .arg(quietLevelDb, 0, 'f', 0)
                     .arg(quietSeconds);
    _warningLabel->setToolTip(
        detail.isEmpty() ? QString() : detail + QLatin1Char(' ') + tr("The lie level is not reliable."));
    _warningLabel->setVisible(!warning.isEmpty());
}
