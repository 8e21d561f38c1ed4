// The help screen: the page from the resources with its base address, an empty but working screen
// when the page is missing, links that never load anything in place, and portrait only.

#include "app/HelpViewController.h"

#include "app/NavigationController.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
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
    // Every command of the desktop program, and nothing that is not there: no links to the web.
    for (const char* told : {"Ctrl+O", "Ctrl+R", "Ctrl+Q", "Ctrl+E", "Ctrl+Shift+E", "PgDn", "Export CSV",
                             "Export Report Picture", "Microphone \u25b8 Refresh", "Help \u25b8 Veraxo Help",
                             "Clipping", "Too quiet", "45", "dBFS", "veraxo FILE", "--device"})
        EXPECT_TRUE(text.contains(told)) << told;
    int links = 0;
    for (QTextBlock block = help.webView()->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QString href = it.fragment().charFormat().anchorHref();
            if (href.isEmpty())
                continue;
            ++links;
            EXPECT_TRUE(href.startsWith('#')) << href.toStdString();
        }
    EXPECT_GT(links, 5) << "the contents link to the page's sections";
    EXPECT_FALSE(text.contains("http") || text.contains("www.") || text.contains("browser"));
    EXPECT_FALSE(text.contains("Input menu")) << "the microphones are in the Microphone menu";
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

TEST(HelpViewController, AnAnchorOfThePageScrollsItAndALinkToAnotherPageNeverDoes) {
    HelpViewController help(QStringLiteral("Help"), nullptr);
    QList<QUrl> opened;
    help.setExternalLinkHandler([&opened](const QUrl& url) { opened.append(url); });
    QTextBrowser* browser = help.webView();
    QWidget* window = browser->window();
    window->resize(320, 160);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QScrollBar* bar = browser->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the page must be taller than its screen";
    bar->setValue(0);

    // Another page with a fragment naming an anchor this page has too.
    for (const char* elsewhere :
         {"https://example.org/voice#privacy", "about.html#privacy", "https://veraxo.example/other/#privacy",
          "qrc:/veraxo/Other.html#privacy"}) {
        emit browser->anchorClicked(QUrl(QString::fromLatin1(elsewhere)));
        EXPECT_EQ(bar->value(), 0) << elsewhere << " scrolled the help page";
    }
    EXPECT_EQ(opened.size(), 3) << "the web pages go to the browser";

    emit browser->anchorClicked(QUrl(QStringLiteral("#privacy")));
    const int privacy = bar->value();
    EXPECT_GT(privacy, 0) << "the anchor of the page did not scroll it";
    emit browser->anchorClicked(QUrl(QString::fromLatin1(HelpViewController::baseAddress) + "#start"));
    EXPECT_LT(bar->value(), privacy) << "the page's own address with a fragment did not scroll back up";
    EXPECT_EQ(opened.size(), 3);
}

} // namespace
