// Portrait is a plain box layout. Landscape is placed by hand on every resize: the relief's size
// follows from the aspect, and a grid would stretch it away from it.

#include "MainScreenLayout.h"

#include "ReliefScales.h"
#include "ViewFrame.h"

#include <QEvent>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
const int margin = 6;
const int spacing = 6;
// Beside the relief: the indicator's share of the column's height, and the button's largest size.
const double indicatorShare = 0.22;
const int buttonLargest = 128;
const int portraitButtonLargest = 88;
} // namespace

const double MainScreenLayout::RELIEF_ASPECT = ReliefScales::ASPECT;

MainScreenLayout::MainScreenLayout(QWidget* page, const Views& views)
    : QObject(page), _page(page), _views(views) {
    arrange(false);
    page->installEventFilter(this);
    views.notice->installEventFilter(this);
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
            placeLandscape();
    } else if (watched == _views.notice && _landscape &&
               (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)) {
        placeLandscape();
    }
    return QObject::eventFilter(watched, event);
}

void MainScreenLayout::arrange(bool landscape) {
    _landscape = landscape;
    delete _page->layout();
    _views.button->setMaximumHeight(landscape ? buttonLargest : portraitButtonLargest);
    if (landscape) {
        placeLandscape();
        return;
    }
    // Portrait: the relief takes most of the height, the graph the rest.
    auto* layout = new QVBoxLayout(_page);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(spacing);
    layout->addWidget(_views.spectrum, 5);
    layout->addWidget(_views.indicator, 1);
    layout->addWidget(_views.graph, 3);
    layout->addWidget(_views.notice, 0);
    layout->addWidget(_views.button, 2);
    layout->activate();
}

void MainScreenLayout::placeLandscape() {
    const QRect area = _page->rect().adjusted(margin, margin, -margin, -margin);
    const QSize graphLeast = _views.graph->minimumSizeHint().expandedTo(_views.graph->minimumSize());

    // The relief: as tall as its share allows and as wide as its aspect makes it, leaving the column.
    const auto* frame = qobject_cast<const ViewFrame*>(_views.spectrum);
    const QMargins labels = frame ? frame->viewMargins() : QMargins();
    const int rowHeight =
        std::min(int(area.height() * RELIEF_SHARE), area.height() - spacing - graphLeast.height());
    int reliefHeight = std::max(1, rowHeight - labels.top() - labels.bottom());
    int reliefWidth = int(std::lround(RELIEF_ASPECT * reliefHeight));
    const int widest = area.width() - spacing - SIDE_MINIMUM - labels.left() - labels.right();
    if (reliefWidth > widest) {
        reliefWidth = std::max(1, widest);
        reliefHeight = std::max(1, int(std::lround(reliefWidth / RELIEF_ASPECT)));
    }
    const QRect relief(area.topLeft(), QSize(reliefWidth + labels.left() + labels.right(),
                                             reliefHeight + labels.top() + labels.bottom()));
    _views.spectrum->setGeometry(relief);

    // The column: the indicator with its number, the notice when there is one, the button.
    const QRect column(relief.right() + 1 + spacing, area.top(), area.right() - relief.right() - spacing,
                       relief.height());
    int top = column.top();
    const int indicatorHeight =
        std::max(_views.indicator->minimumSizeHint().height(), int(column.height() * indicatorShare));
    _views.indicator->setGeometry(column.left(), top, column.width(), indicatorHeight);
    top += indicatorHeight + spacing;
    if (_views.notice->isVisibleTo(_page)) {
        const int height = std::min(_views.notice->heightForWidth(column.width()), column.bottom() - top);
        _views.notice->setGeometry(column.left(), top, column.width(), std::max(0, height));
        top += height + spacing;
    }
    const int buttonSide =
        std::clamp(column.bottom() + 1 - top, _views.button->minimumHeight(), buttonLargest);
    const int buttonTop = top + std::max(0, (column.bottom() + 1 - top - buttonSide) / 2);
    _views.button->setGeometry(column.left(), buttonTop, column.width(), buttonSide);

    // The graph: the whole width under both, all the height left.
    const int graphTop = relief.bottom() + 1 + spacing;
    _views.graph->setGeometry(area.left(), graphTop, area.width(), area.bottom() + 1 - graphTop);
}
