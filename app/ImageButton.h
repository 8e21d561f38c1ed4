#pragma once
// A push button that is nothing but a picture: one image for the normal state and one for while it
// is held down. Images are scaled to fit inside the button, keeping their proportions, and smoothly
// filtered so they stay clean at any window size and pixel density. A state without an image falls
// back to the normal image; with neither the button is drawn empty.

#include <QAbstractButton>
#include <QImage>

class ImageButton : public QAbstractButton {
    Q_OBJECT
public:
    enum ControlState { ControlStateNormal = 0, ControlStateHighlighted = 1 };

    explicit ImageButton(QWidget* parent = nullptr);

    void setImage(const QImage& image, ControlState state);
    QImage image(ControlState state) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage _normal;
    QImage _highlighted;
};
