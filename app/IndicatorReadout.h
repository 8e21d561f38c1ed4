#pragma once
// The lie indicator with the current lie level beside its bars as a number with two decimals. The
// number's size follows the indicator's height, so a tall indicator in a wide window reads from afar.
// It is repainted only when its text changes.

#include "ViewFrame.h"

#include <QTimer>

class LieIndicator;

class IndicatorReadout : public ViewFrame {
    Q_OBJECT
public:
    explicit IndicatorReadout(LieIndicator* indicator, QWidget* parent = nullptr);

    // The number as shown now.
    QString text() const;

protected:
    QMargins marginsFor(const QSize& size) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    QFont numberFont(int height) const;
    void onTick();

    LieIndicator* _indicator;
    QString _painted;
    QTimer _tick;
};
