// The help screen: the page from the resources with its base address, an empty but working screen
// when the page is missing, links that never load anything in place, and portrait only.

#include "app/HelpViewController.h"

#include "app/NavigationController.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>

namespace {

TEST(HelpViewController, ShowsTheHelpPageFromTheResourcesWithTheBaseAddress) {
    HelpViewController help(QStringLiteral("Help"), nullptr);
    ASSERT_TRUE(help.isViewLoaded()) << "loading the page loads the screen's layout first";
    const QString text = help.webView()->toPlainText();
    EXPECT_TRUE(text.contains("entertainment"));
    EXPECT_TRUE(text.contains("Space"));
    EXPECT_TRUE(text.contains("F1"));
    EXPECT_TRUE(text.contains("Esc"));
    EXPECT_TRUE(text.contains("nothing is recorded, stored, played back or sent"));
    EXPECT_EQ(help.webView()->document()->baseUrl(), QUrl(HelpViewController::baseAddress));
    EXPECT_TRUE(help.shouldAutorotateToInterfaceOrientation(InterfaceOrientationPortrait));
    EXPECT_FALSE(help.shouldAutorotateToInterfaceOrientation(InterfaceOrientationPortraitUpsideDown));
    EXPECT_FALSE(help.shouldAutorotateToInterfaceOrientation(InterfaceOrientationLandscapeLeft));
}

TEST(HelpViewController, WithoutThePageTheScreenIsEmptyAndStillOpens) {
    QTemporaryDir emptyBundle;
    ASSERT_TRUE(emptyBundle.isValid());
    const Bundle bundle(emptyBundle.path());
    HelpViewController help(QStringLiteral("Help"), &bundle);
    EXPECT_FALSE(help.isViewLoaded()) << "nothing to show: the layout is left for later";

    struct Root : ViewController {
        Root() : ViewController(QStringLiteral("Root")) {}
        QWidget* loadView() override { return new QWidget; }
    } root;
    NavigationController navigation(&root);
    navigation.pushViewController(&help, true);
    EXPECT_EQ(navigation.topViewController(), &help);
    ASSERT_NE(help.webView(), nullptr);
    EXPECT_TRUE(help.webView()->toPlainText().isEmpty());
}

TEST(HelpViewController, LinksScrollInPlaceOrGoToTheBrowserButNeverLoadInTheScreen) {
    HelpViewController help(QStringLiteral("Help"), nullptr);
    QList<QUrl> opened;
    help.setExternalLinkHandler([&opened](const QUrl& url) { opened.append(url); });
    QTextBrowser* browser = help.webView();
    const QString before = browser->toHtml();

    emit browser->anchorClicked(QUrl(QStringLiteral("#privacy")));
    EXPECT_TRUE(opened.isEmpty()) << "an anchor of the page itself stays in the page";

    emit browser->anchorClicked(QUrl(QStringLiteral("about.html")));
    emit browser->anchorClicked(QUrl(QStringLiteral("https://example.org/voice")));
    emit browser->anchorClicked(QUrl(QStringLiteral("file:///home/user/notes.html")));
    emit browser->anchorClicked(QUrl(QStringLiteral("qrc:/veraxo/Help.html")));
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://veraxo.example/help/about.html")));
    EXPECT_EQ(opened[1], QUrl(QStringLiteral("https://example.org/voice")));
    EXPECT_EQ(browser->toHtml(), before) << "the page shown never changes";
    EXPECT_TRUE(browser->source().isEmpty());
}

} // namespace
