// Building and showing the main window, and its keyboard shortcuts.

#include "VeraxoAppDelegate.h"

#include "VeraxoViewController.h"

#include <QIcon>
#include <QShortcut>
#include <QVBoxLayout>

const QSize VeraxoAppDelegate::defaultWindowSize(320, 480);

VeraxoAppDelegate::VeraxoAppDelegate(const Bundle* bundle, QObject* parent)
    : QObject(parent), _window(new QWidget), _mainViewController(nullptr) {
    const Bundle& resources = bundle ? *bundle : Bundle::mainBundle();
    _mainViewController = new VeraxoViewController(QStringLiteral("MainWindow"), &resources, this);
    _navCon = new NavigationController(_mainViewController);

    _window->setObjectName(QStringLiteral("window"));
    _window->setWindowTitle(QStringLiteral("Veraxo"));
    const QImage icon = resources.imageNamed(QStringLiteral("Icon.png"));
    if (!icon.isNull())
        _window->setWindowIcon(QIcon(QPixmap::fromImage(icon)));
    _window->resize(defaultWindowSize);
    _window->setMinimumSize(defaultWindowSize * 3 / 4);

    // The program has this one window: its keys work whenever it has the keyboard.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), _window);
    space->setContext(Qt::ApplicationShortcut);
    connect(space, &QShortcut::activated, this, &VeraxoAppDelegate::onSpace);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), _window);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, &VeraxoAppDelegate::onHelpKey);
    auto* back = new QShortcut(QKeySequence(Qt::Key_Escape), _window);
    back->setContext(Qt::ApplicationShortcut);
    connect(back, &QShortcut::activated, this, &VeraxoAppDelegate::onEscape);
}

VeraxoAppDelegate::~VeraxoAppDelegate() {
    delete _navCon;
    delete _window;
}

void VeraxoAppDelegate::applicationDidFinishLaunching() {
    auto* layout = new QVBoxLayout(_window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(_navCon);
    layout->addWidget(_mainViewController->statusBar());
    _window->show();
    _window->raise();
    _window->activateWindow();
}

void VeraxoAppDelegate::onSpace() {
    if (_navCon && _navCon->topViewController() == _mainViewController)
        _mainViewController->onRecord();
}

void VeraxoAppDelegate::onHelpKey() {
    if (_navCon && _navCon->topViewController() == _mainViewController)
        _mainViewController->onHelp();
}

void VeraxoAppDelegate::onEscape() {
    if (_navCon)
        _navCon->popViewControllerAnimated(true);
}
