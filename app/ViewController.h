#pragma once
// One screen: it owns a view that is built on first use, and hears when it is shown and hidden by
// the navigation controller. Subclasses build their widgets in loadView (the screen's layout) and
// wire them in viewDidLoad. The items a screen wants in the navigation bar are plain widgets it hands
// over; the navigation controller places them and owns them from then on.

#include <QObject>
#include <QPointer>
#include <QWidget>

class NavigationController;

enum InterfaceOrientation {
    InterfaceOrientationPortrait = 1,
    InterfaceOrientationPortraitUpsideDown = 2,
    InterfaceOrientationLandscapeRight = 3,
    InterfaceOrientationLandscapeLeft = 4,
};

class ViewController : public QObject {
    Q_OBJECT
public:
    explicit ViewController(const QString& nibName, QObject* parent = nullptr);
    ~ViewController() override;

    // The screen's view, loading it (loadView, then viewDidLoad) on the first call.
    QWidget* view();
    bool isViewLoaded() const { return _view != nullptr; }
    const QString& nibName() const { return _nibName; }

    NavigationController* navigationController() const { return _navigationController; }
    void setNavigationController(NavigationController* controller) { _navigationController = controller; }

    // The widgets shown at the left and right of the navigation bar while this screen is on top.
    QWidget* leftBarItem() const { return _leftBarItem; }
    QWidget* rightBarItem() const { return _rightBarItem; }
    void setLeftBarButtonItem(QWidget* item);
    void setRightBarButtonItem(QWidget* item);
    const QString& title() const { return _title; }
    void setTitle(const QString& title);

    virtual void viewDidAppear(bool animated);
    virtual void viewDidDisappear(bool animated);
    virtual bool shouldAutorotateToInterfaceOrientation(int orientation) const;

signals:
    void navigationItemChanged();

protected:
    virtual QWidget* loadView() = 0;
    virtual void viewDidLoad() {}

private:
    void replaceBarItem(QPointer<QWidget>& slot, QWidget* item);

    QString _nibName;
    QPointer<QWidget> _view;
    QPointer<QWidget> _leftBarItem;
    QPointer<QWidget> _rightBarItem;
    QString _title;
    NavigationController* _navigationController = nullptr;
};
