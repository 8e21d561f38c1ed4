// The navigation bar and page stack. Appearance follows the widget's own visibility: the top screen
// "appears" when the stack is first shown in a window and "disappears" when it is hidden, so each
// screen sees balanced appear/disappear calls whatever the order of pushes and window changes.

#include "NavigationController.h"

#include "ViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

NavigationController::NavigationController(ViewController* rootViewController, QWidget* parent)
    : QWidget(parent), _bar(new QWidget(this)), _leftSlot(new QHBoxLayout), _rightSlot(new QHBoxLayout),
      _titleLabel(new QLabel(_bar)), _backButton(new QToolButton(_bar)), _pages(new QStackedWidget(this)) {
    _bar->setObjectName(QStringLiteral("navigationBar"));
    _bar->setAutoFillBackground(true);
    _bar->setFixedHeight(44);
    QPalette barPalette = _bar->palette();
    barPalette.setColor(QPalette::Window, QColor(28, 30, 38));
    barPalette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    barPalette.setColor(QPalette::ButtonText, QColor(235, 235, 240));
    _bar->setPalette(barPalette);

    _titleLabel->setAlignment(Qt::AlignCenter);
    QFont titleFont = _titleLabel->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    _titleLabel->setFont(titleFont);

    _backButton->setObjectName(QStringLiteral("backButton"));
    _backButton->setText(tr("\u2039 Back"));
    _backButton->setAutoRaise(true);
    _backButton->setFocusPolicy(Qt::TabFocus);
    _backButton->setToolTip(tr("Back (Esc)"));
    _backButton->hide();
    connect(_backButton, &QToolButton::clicked, this, [this] { popViewControllerAnimated(true); });

    _leftSlot->setContentsMargins(0, 0, 0, 0);
    _rightSlot->setContentsMargins(0, 0, 0, 0);
    auto* barLayout = new QHBoxLayout(_bar);
    barLayout->setContentsMargins(8, 4, 8, 4);
    barLayout->addLayout(_leftSlot);
    barLayout->addWidget(_titleLabel, 1);
    barLayout->addLayout(_rightSlot);
    _leftSlot->addWidget(_backButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(_bar);
    layout->addWidget(_pages, 1);

    pushViewController(rootViewController, false);
}

NavigationController::~NavigationController() {
    for (ViewController* controller : _viewControllers)
        controller->setNavigationController(nullptr);
}

void NavigationController::pushViewController(ViewController* controller, bool animated) {
    if (!controller || _viewControllers.contains(controller))
        return;
    ViewController* previous = topViewController();
    if (previous)
        disconnect(previous, &ViewController::navigationItemChanged, this, &NavigationController::updateBar);
    _viewControllers.append(controller);
    controller->setNavigationController(this);
    connect(controller, &ViewController::navigationItemChanged, this, &NavigationController::updateBar);
    showTop();
    if (_onScreen) {
        if (previous)
            previous->viewDidDisappear(animated);
        controller->viewDidAppear(animated);
    }
}

ViewController* NavigationController::popViewControllerAnimated(bool animated) {
    if (_viewControllers.size() < 2)
        return nullptr;
    ViewController* leaving = _viewControllers.takeLast();
    disconnect(leaving, &ViewController::navigationItemChanged, this, &NavigationController::updateBar);
    leaving->setNavigationController(nullptr);
    for (QWidget* item : {leaving->leftBarItem(), leaving->rightBarItem()})
        if (item)
            item->hide();
    ViewController* top = topViewController();
    connect(top, &ViewController::navigationItemChanged, this, &NavigationController::updateBar);
    showTop();
    if (_onScreen) {
        leaving->viewDidDisappear(animated);
        top->viewDidAppear(animated);
    }
    return leaving;
}

ViewController* NavigationController::topViewController() const {
    return _viewControllers.isEmpty() ? nullptr : _viewControllers.last();
}

void NavigationController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous() || _onScreen)
        return;
    _onScreen = true;
    if (ViewController* top = topViewController())
        top->viewDidAppear(false);
}

void NavigationController::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous() || !_onScreen)
        return;
    _onScreen = false;
    if (ViewController* top = topViewController())
        top->viewDidDisappear(false);
}

void NavigationController::showTop() {
    ViewController* top = topViewController();
    QWidget* page = top->view();
    if (_pages->indexOf(page) < 0)
        _pages->addWidget(page);
    _pages->setCurrentWidget(page);
    updateBar();
}

void NavigationController::updateBar() {
    ViewController* top = topViewController();
    _titleLabel->setText(top->title());
    const bool nested = _viewControllers.size() > 1;
    _backButton->setVisible(nested);
    for (ViewController* controller : _viewControllers) {
        if (controller->leftBarItem() && controller->leftBarItem() != top->leftBarItem())
            controller->leftBarItem()->hide();
        if (controller->rightBarItem() && controller->rightBarItem() != top->rightBarItem())
            controller->rightBarItem()->hide();
    }
    if (top->leftBarItem()) {
        placeItem(_leftSlot, top->leftBarItem());
        top->leftBarItem()->setVisible(!nested);
    }
    if (top->rightBarItem()) {
        placeItem(_rightSlot, top->rightBarItem());
        top->rightBarItem()->show();
    }
}

void NavigationController::placeItem(QHBoxLayout* slot, QWidget* item) {
    if (slot->indexOf(item) < 0)
        slot->addWidget(item);
}
