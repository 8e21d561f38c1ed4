// The navigation stack: which screen is shown, the Back control, and balanced appear/disappear calls.

#include "app/NavigationController.h"
#include "app/ViewController.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

namespace {

struct Screen : ViewController {
    Screen(const QString& name, QStringList& log) : ViewController(name), log(log) {}
    QWidget* loadView() override {
        log << nibName() + ":load";
        return new QLabel(nibName());
    }
    void viewDidLoad() override { log << nibName() + ":didLoad"; }
    void viewDidAppear(bool) override { log << nibName() + ":appear"; }
    void viewDidDisappear(bool) override { log << nibName() + ":disappear"; }
    QStringList& log;
};

TEST(NavigationController, PushAndBackSwapTheScreensAndTellThemInOrder) {
    QStringList log;
    Screen root(QStringLiteral("root"), log);
    Screen help(QStringLiteral("help"), log);
    root.setRightBarButtonItem(new QToolButton);
    NavigationController navigation(&root);
    EXPECT_EQ(log, QStringList({"root:load", "root:didLoad"})) << "not on screen yet: nothing appears";

    navigation.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&navigation));
    EXPECT_EQ(log.last(), "root:appear");
    EXPECT_FALSE(navigation.backButton()->isVisible());
    EXPECT_TRUE(root.rightBarItem()->isVisible());

    log.clear();
    navigation.pushViewController(&help, true);
    EXPECT_EQ(log, QStringList({"help:load", "help:didLoad", "root:disappear", "help:appear"}));
    EXPECT_EQ(navigation.topViewController(), &help);
    EXPECT_EQ(help.navigationController(), &navigation);
    EXPECT_TRUE(navigation.backButton()->isVisible());
    EXPECT_FALSE(root.rightBarItem()->isVisible()) << "the bar shows the top screen's items only";
    EXPECT_EQ(navigation.findChild<QStackedWidget*>()->currentWidget(), help.view());

    navigation.pushViewController(&help, true);
    EXPECT_EQ(navigation.viewControllers().size(), 2) << "a screen already on the stack is not pushed twice";

    log.clear();
    QTest::mouseClick(navigation.backButton(), Qt::LeftButton);
    EXPECT_EQ(log, QStringList({"help:disappear", "root:appear"}));
    EXPECT_EQ(navigation.topViewController(), &root);
    EXPECT_EQ(help.navigationController(), nullptr);
    EXPECT_FALSE(navigation.backButton()->isVisible());
    EXPECT_TRUE(root.rightBarItem()->isVisible());

    log.clear();
    EXPECT_EQ(navigation.popViewControllerAnimated(true), nullptr) << "the root stays";
    EXPECT_TRUE(log.isEmpty());

    navigation.pushViewController(&help, false);
    log.clear();
    navigation.hide();
    EXPECT_EQ(log, QStringList({"help:disappear"})) << "hiding the stack hides the top screen only";
    navigation.hide();
    EXPECT_EQ(log.size(), 1);
}

} // namespace
