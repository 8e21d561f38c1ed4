// Pictures of the lie graph and the lie indicator painted by the widgets themselves, their timers,
// and how the graph's history follows the widget's width.

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "Shared/ImageResources.h"
#include "tests/support/redraw_timer_check.h"
#include "views/GraphView.h"
#include "views/LieIndicator.h"

namespace {

QImage picture(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void feed(GraphView& view, float value, int blocks) {
    for (int i = 0; i < blocks; ++i)
        view.newData(&value, 1);
}

void feed(LieIndicator& view, float value, int blocks) {
    for (int i = 0; i < blocks; ++i)
        view.newData(&value, 1);
}

bool isCyan(const QColor& c) {
    return c.red() < 60 && c.green() > 200 && c.blue() > 200;
}
bool isBlack(const QColor& c) {
    return c.red() < 20 && c.green() < 20 && c.blue() < 20;
}

const int GW = 200, GH = 100; // reference line at y = 30, base at y = 98

} // namespace

TEST(GraphView, StartsFlatTwoPointsAboveTheBottomWithTheReferenceLine) {
    GraphView view;
    view.resize(GW, GH);
    const QImage image = picture(view);
    EXPECT_EQ(view.bufferSize(), GW);
    for (int x : {5, 100, 190}) {
        EXPECT_TRUE(isCyan(image.pixelColor(x, 97))) << x;
        EXPECT_TRUE(isCyan(image.pixelColor(x, 98))) << x;
        EXPECT_TRUE(isBlack(image.pixelColor(x, 94))) << x;
        // The reference line, 1.5 wide about y = 30, covers three quarters of rows 29 and 30 in red
        // (1.0, 0.3, 0.2) at 70 % opacity over black.
        for (int row : {29, 30}) {
            const QColor ref = image.pixelColor(x, row);
            EXPECT_NEAR(ref.red(), 134, 6) << x;
            EXPECT_NEAR(ref.green(), 40, 6) << x;
            EXPECT_NEAR(ref.blue(), 27, 6) << x;
        }
        EXPECT_TRUE(isBlack(image.pixelColor(x, 27))) << x;
        EXPECT_TRUE(isBlack(image.pixelColor(x, 50))) << x;
    }
}

TEST(GraphView, FullHistoryOfOnesThenOneZeroLeavesOneLowPointAtTheRight) {
    GraphView view;
    view.resize(GW, GH);
    feed(view, 1.0f, GW);
    QImage image = picture(view);
    for (int x : {1, 100, 198}) {
        EXPECT_TRUE(isCyan(image.pixelColor(x, 27))) << x;
        EXPECT_TRUE(isBlack(image.pixelColor(x, 97))) << x;
    }
    feed(view, 0.0f, 1);
    image = picture(view);
    EXPECT_TRUE(isCyan(image.pixelColor(100, 27)));
    EXPECT_TRUE(isCyan(image.pixelColor(197, 27)));
    EXPECT_TRUE(isCyan(image.pixelColor(199, 97)));
    EXPECT_TRUE(isBlack(image.pixelColor(190, 97)));
    EXPECT_EQ(view.bufferCount(), GW + 1);
}

TEST(GraphView, ReferenceLineLiesUnderTheTrace) {
    GraphView view;
    view.resize(GW, GH);
    // The value that puts the trace exactly on the reference line.
    feed(view, (70.0f - 2.0f) / 70.0f, GW);
    const QImage image = picture(view);
    EXPECT_EQ(image.pixelColor(100, 30), QColor(0, 255, 255));
}

TEST(GraphView, OnlyTheFirstValueOfABlockCountsAndEmptyBlocksAddNothing) {
    GraphView view;
    view.resize(GW, GH);
    const float block[5] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < GW; ++i)
        view.newData(block, 5);
    view.newData(nullptr, 0);
    view.newData(block, 0);
    const QImage image = picture(view);
    EXPECT_TRUE(isCyan(image.pixelColor(198, 27)));
    EXPECT_EQ(view.bufferCount(), GW + 2);
}

TEST(GraphView, ClearDataFlattensAFullHistory) {
    GraphView view;
    view.resize(GW, GH);
    feed(view, 1.0f, GW);
    picture(view);
    feed(view, 1.0f, 3);
    view.clearData();
    const QImage image = picture(view);
    for (int x : {1, 100, 198}) {
        EXPECT_TRUE(isCyan(image.pixelColor(x, 97))) << x;
        EXPECT_TRUE(isBlack(image.pixelColor(x, 27))) << x;
    }
}

TEST(GraphView, HistoryFollowsTheWidthKeepingTheNewestAtTheRight) {
    GraphView view;
    view.resize(GW, GH);
    feed(view, 1.0f, 50);
    picture(view);
    view.resize(300, GH);
    const QImage image = picture(view);
    EXPECT_EQ(view.bufferSize(), 300);
    EXPECT_TRUE(isCyan(image.pixelColor(280, 27)));
    EXPECT_TRUE(isCyan(image.pixelColor(100, 97)));

    view.resize(0, GH);
    picture(view);
    EXPECT_EQ(view.bufferSize(), 1);
    feed(view, 1.0f, 3);
    view.resize(1, GH);
    EXPECT_EQ(picture(view).width(), 1);
}

TEST(GraphView, TimersStartOnceAndStopQuietly) {
    GraphView graph;
    veraxo_test::expectRedrawTimerStartsOnceAndStopsQuietly(graph);
    LieIndicator indicator;
    veraxo_test::expectRedrawTimerStartsOnceAndStopsQuietly(indicator);
}

TEST(GraphView, TicksRepaintOnlyAfterNewValues) {
    GraphView graph;
    graph.resize(GW, GH);
    veraxo_test::expectTicksRepaintOnlyAfterAChange(graph, [&]() { feed(graph, 0.5f, 1); });
    // A clear on the main thread changes the picture too.
    veraxo_test::expectTicksRepaintOnlyAfterAChange(graph, [&]() { graph.clearData(); });
    LieIndicator indicator;
    indicator.resize(200, 20);
    veraxo_test::expectTicksRepaintOnlyAfterAChange(indicator, [&]() { feed(indicator, 1.0f, 1); });
}

namespace {

const int IW = 200, IH = 20;

// The bar picture as the indicator stretches it, for comparison.
QImage reference() {
    QImage image(IW, IH, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(0, 0, IW, IH), ImageResources::named("lie_bar.png", 2.0));
    return image;
}

// Columns where the picture shows: those equal to the reference and not all black there.
void expectUncoveredUpTo(const QImage& image, int edge) {
    const QImage ref = reference();
    const int y = IH / 2;
    for (int x = 0; x < IW; ++x) {
        if (x < edge - 1) {
            ASSERT_EQ(image.pixelColor(x, y), ref.pixelColor(x, y)) << "column " << x;
        } else if (x > edge) {
            ASSERT_TRUE(isBlack(image.pixelColor(x, y))) << "column " << x;
        }
    }
}

} // namespace

TEST(LieIndicator, ShowsNothingAtZero) {
    LieIndicator view;
    view.resize(IW, IH);
    ASSERT_TRUE(view.hasImage());
    expectUncoveredUpTo(picture(view), 0);
}

TEST(LieIndicator, LevelApproachesOneAndUncoversNinetyPercent) {
    LieIndicator view;
    view.resize(IW, IH);
    feed(view, 1.0f, 1);
    EXPECT_FLOAT_EQ(view.lieLevel(), 0.3f);
    feed(view, 1.0f, 2);
    EXPECT_FLOAT_EQ(view.lieLevel(), 0.657f);
    feed(view, 1.0f, 200);
    EXPECT_NEAR(view.lieLevel(), 1.0f, 1e-6);
    expectUncoveredUpTo(picture(view), 180);
}

TEST(LieIndicator, HighLevelShowsAllAndNegativeLevelShowsNothing) {
    LieIndicator view;
    view.resize(IW, IH);
    feed(view, 1.2f, 200);
    expectUncoveredUpTo(picture(view), IW + 2);
    feed(view, -1.0f, 200);
    expectUncoveredUpTo(picture(view), 0);
}

TEST(LieIndicator, OnlyTheFirstValueCountsAndClearDataResets) {
    LieIndicator view;
    const float block[3] = {1.0f, 5.0f, 5.0f};
    view.newData(block, 3);
    view.newData(nullptr, 0);
    EXPECT_FLOAT_EQ(view.lieLevel(), 0.3f);
    view.clearData();
    EXPECT_EQ(view.lieLevel(), 0.0f);
}
