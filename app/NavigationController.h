#pragma once
// A stack of screens under a navigation bar. The bar shows the top screen's title and its left and
// right items; once a second screen is pushed, a Back control takes the left place. Pushing shows the
// new screen at once (there is no animation on the desktop) and tells the screens which one left and
// which one arrived. The controller does not own the screens; their views live in its page stack.

#include <QList>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QStackedWidget;
class QToolButton;
class ViewController;

class NavigationController : public QWidget {
    Q_OBJECT
public:
    explicit NavigationController(ViewController* rootViewController, QWidget* parent = nullptr);
    ~NavigationController() override;

    void pushViewController(ViewController* controller, bool animated);
    // Returns the screen taken off, or null when only the root is left.
    ViewController* popViewControllerAnimated(bool animated);

    ViewController* topViewController() const;
    const QList<ViewController*>& viewControllers() const { return _viewControllers; }
    QToolButton* backButton() const { return _backButton; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showTop();
    void updateBar();
    void placeItem(QHBoxLayout* slot, QWidget* item);

    QList<ViewController*> _viewControllers;
    QWidget* _bar;
    QHBoxLayout* _leftSlot;
    QHBoxLayout* _rightSlot;
    QLabel* _titleLabel;
    QToolButton* _backButton;
    QStackedWidget* _pages;
    bool _onScreen = false;
};
