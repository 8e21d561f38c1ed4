// Lazy view loading and the appear/disappear notifications shared by every screen.

#include "ViewController.h"

ViewController::ViewController(const QString& nibName, QObject* parent)
    : QObject(parent), _nibName(nibName) {}

ViewController::~ViewController() {
    // A view that was never put into a window is still ours.
    if (_view && !_view->parent())
        delete _view;
    if (_leftBarItem && !_leftBarItem->parent())
        delete _leftBarItem;
    if (_rightBarItem && !_rightBarItem->parent())
        delete _rightBarItem;
}

QWidget* ViewController::view() {
    if (!_view) {
        _view = loadView();
        viewDidLoad();
    }
    return _view;
}

void ViewController::setLeftBarButtonItem(QWidget* item) {
    replaceBarItem(_leftBarItem, item);
}

void ViewController::setRightBarButtonItem(QWidget* item) {
    replaceBarItem(_rightBarItem, item);
}

void ViewController::setTitle(const QString& title) {
    _title = title;
    emit navigationItemChanged();
}

void ViewController::replaceBarItem(QPointer<QWidget>& slot, QWidget* item) {
    if (slot == item)
        return;
    delete slot;
    slot = item;
    emit navigationItemChanged();
}

void ViewController::viewDidAppear(bool) {}

void ViewController::viewDidDisappear(bool) {}

bool ViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    return orientation == InterfaceOrientationPortrait;
}
