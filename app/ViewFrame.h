#pragma once
// A live view with room around it for its scales and numbers. The view keeps its own picture, pixel
// for pixel: the frame only places it inside its margins and draws the labels there, in the window's
// palette and a slightly smaller font, so they follow the system's font and HiDPI scaling.

#include <QMargins>
#include <QWidget>

class ViewFrame : public QWidget {
    Q_OBJECT
public:
    ViewFrame(QWidget* view, QWidget* parent = nullptr);

    QWidget* view() const { return _view; }
    // The room the labels take around the view, in points.
    QMargins viewMargins() const { return _margins; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    // Subclasses say how much room their labels need, from labelFont() and the frame's size.
    virtual QMargins marginsFor(const QSize& size) const = 0;
    QFont labelFont() const;
    QColor labelColor() const;
    // Where the view sits in the frame.
    QRect viewRect() const { return _view->geometry(); }
    void placeView();
    // False when a paint covers only the view: a repaint of the view, which is not opaque, reaches its
    // frame too, and the labels need not be drawn again for it.
    bool labelsExposed(const QPaintEvent* event) const;

    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* _view;
    QMargins _margins;
};
