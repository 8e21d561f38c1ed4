#pragma once
// The application's top level: the main window holding the navigation controller, whose root is the
// main screen. Building the delegate builds the window and its screens; launching shows the window.
// The window keeps the portrait layout at any size; the keyboard drives the same actions as the
// controls: Space the record button, F1 help, Esc back.

#include "Bundle.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "NavigationController.h"
class VeraxoViewController;

class VeraxoAppDelegate : public QObject {
    Q_OBJECT
public:
    // The window's size in points when it first opens: a portrait handset screen.
    static const QSize defaultWindowSize;

    explicit VeraxoAppDelegate(const Bundle* bundle = nullptr, QObject* parent = nullptr);
    ~VeraxoAppDelegate() override;

    void applicationDidFinishLaunching();

    QWidget* window() const { return _window; }
    NavigationController* navCon() const { return _navCon; }
    VeraxoViewController* mainViewController() const { return _mainViewController; }

private:
    void onSpace();
    void onHelpKey();
    void onEscape();

    QPointer<QWidget> _window;
    QPointer<NavigationController> _navCon;
    VeraxoViewController* _mainViewController;
};
