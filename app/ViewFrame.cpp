// Placing the view inside the margins its labels need.

#include "ViewFrame.h"

#include <QEvent>
#include <QPaintEvent>

ViewFrame::ViewFrame(QWidget* view, QWidget* parent) : QWidget(parent), _view(view) {
    view->setParent(this);
    setSizePolicy(view->sizePolicy());
}

QFont ViewFrame::labelFont() const {
    QFont small = font();
    small.setPointSizeF(qMax(7.5, font().pointSizeF() * 0.85));
    return small;
}

QColor ViewFrame::labelColor() const {
    QColor colour = palette().color(QPalette::WindowText);
    colour.setAlphaF(0.75f);
    return colour;
}

QSize ViewFrame::sizeHint() const {
    return _view->sizeHint().grownBy(marginsFor(_view->sizeHint()));
}

QSize ViewFrame::minimumSizeHint() const {
    const QSize view = _view->minimumSize().expandedTo(_view->minimumSizeHint());
    return view.grownBy(marginsFor(view));
}

bool ViewFrame::labelsExposed(const QPaintEvent* event) const {
    return !event->region().subtracted(QRegion(viewRect())).isEmpty();
}

void ViewFrame::placeView() {
    _margins = marginsFor(size());
    _view->setGeometry(rect().marginsRemoved(_margins));
    update();
}

void ViewFrame::resizeEvent(QResizeEvent*) {
    placeView();
}

void ViewFrame::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        updateGeometry();
        placeView();
    }
    QWidget::changeEvent(event);
}
