#pragma once
// The spectrum relief with its scales: the band frequencies under its front edge (200, 1000, 2000 and
// 3400 Hz, each under the place its band reaches the front) and, above it, which way time runs
// (older lines at the back, the newest at the front). The places come from the relief's own
// projection, so they hold at any size; the labels are drawn once per resize, never per frame.

#include "ViewFrame.h"

class ReliefScales : public ViewFrame {
    Q_OBJECT
public:
    // The relief's width over its height at which its picture fills the view from side to side
    // without cutting the front edge: the background plane's width on screen.
    static constexpr double ASPECT = 1.9558;

    explicit ReliefScales(QWidget* relief, QWidget* parent = nullptr);

    // Where the front edge of the band holding frequency hz meets the view, as a fraction of the view's
    // width from its left edge, for a view of this aspect (width over height).
    static double frontEdgeX(double hz, double aspect);
    // The same, down from the view's top as a fraction of its height.
    static double frontEdgeY();

protected:
    QMargins marginsFor(const QSize& size) const override;
    void paintEvent(QPaintEvent* event) override;
};
