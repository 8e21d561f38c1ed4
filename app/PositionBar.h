#pragma once
// Where a recording stands: a bar filled up to the position, with the position and the length as
// "m:ss / m:ss" over it. A click or a drag picks a place: while the button is held the bar shows the
// place under the pointer, and letting go asks for a seek there, so a drag starts the recording over
// once, not at every step. Only a recording that can be sought has one (not the microphone, not a pipe).

#include <QWidget>

class PositionBar : public QWidget {
    Q_OBJECT
public:
    explicit PositionBar(QWidget* parent = nullptr);

    // Both in samples at sampleRate.
    void setLength(long long samples);
    void setPosition(long long samples);
    long long length() const { return _length; }
    long long position() const { return _position; }
    // The text shown: the place being dragged to while a drag is under way.
    QString positionText() const;
    // The sample at x across the bar.
    long long sampleAt(int x) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int sampleRate = 8000;

signals:
    void seekRequested(long long sample);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    long long shown() const { return _dragging ? _dragAt : _position; }

    long long _length = 0;
    long long _position = 0;
    bool _dragging = false;
    long long _dragAt = 0;
};
