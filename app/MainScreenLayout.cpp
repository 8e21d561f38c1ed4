// The two arrangements are two plain box layouts; crossing from one shape to the other replaces the
// page's layout (the views stay the page's children) and lays it out at once, within the same resize.

#include "MainScreenLayout.h"

#include <QEvent>
#include <QGridLayout>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>

namespace {
const int margin = 6;
const int spacing = 6;
} // namespace

MainScreenLayout::MainScreenLayout(QWidget* page, const Views& views)
    : QObject(page), _page(page), _views(views) {
    arrange(false);
    page->installEventFilter(this);
}

bool MainScreenLayout::windowIsLandscape() const {
    const QWidget* window = _page->window();
    return window != _page && window->width() > window->height();
}

bool MainScreenLayout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == _page && event->type() == QEvent::Resize) {
        const bool landscape = windowIsLandscape();
        if (landscape != _landscape)
            arrange(landscape);
        else if (_landscape)
            fitRelief();
    }
    return QObject::eventFilter(watched, event);
}

void MainScreenLayout::arrange(bool landscape) {
    _landscape = landscape;
    delete _page->layout();
    if (!landscape) {
        _views.spectrum->setMaximumWidth(QWIDGETSIZE_MAX);
        _views.indicator->setMaximumHeight(QWIDGETSIZE_MAX);
        // Portrait: the relief takes most of the height, the graph the rest.
        auto* layout = new QVBoxLayout(_page);
        layout->setContentsMargins(margin, margin, margin, margin);
        layout->setSpacing(spacing);
        layout->addWidget(_views.spectrum, 5);
        layout->addWidget(_views.indicator, 1);
        layout->addWidget(_views.graph, 3);
        layout->addWidget(_views.button, 2);
        layout->activate();
        return;
    }
    // Landscape: the relief and, beside it, the indicator over the button; the graph below both, as
    // wide as the window, so it holds a long stretch of history.
    auto* layout = new QGridLayout(_page);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(spacing);
    auto* side = new QVBoxLayout;
    side->setSpacing(spacing);
    // The indicator is a strip: as tall as on the handset screen, not the column's height.
    _views.indicator->setMaximumHeight(INDICATOR_HEIGHT);
    side->addWidget(_views.indicator, 1);
    side->addStretch(1);
    side->addWidget(_views.button, 3);
    layout->addWidget(_views.spectrum, 0, 0);
    layout->addLayout(side, 0, 1);
    layout->addWidget(_views.graph, 1, 0, 1, 2);
    layout->setRowStretch(0, RELIEF_ROWS);
    layout->setRowStretch(1, 1);
    layout->setColumnStretch(0, 4);
    layout->setColumnStretch(1, 1);
    layout->setColumnMinimumWidth(1, SIDE_MINIMUM);
    fitRelief();
    layout->activate();
}

void MainScreenLayout::fitRelief() {
    const int height = (_page->height() - 2 * margin - spacing) * RELIEF_ROWS / (RELIEF_ROWS + 1);
    _views.spectrum->setMaximumWidth(std::max(1, int(std::lround(RELIEF_ASPECT * height))));
}
