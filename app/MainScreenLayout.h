#pragma once
// Arranges the main screen for the window's shape. While the window is taller than wide (the first-run
// default) the views stack as on a handset: the relief, the lie indicator, the lie graph and the record
// button. Once it is wider than tall, the relief takes the upper left, never wider than
// the part its drawing fills (RELIEF_ASPECT times its height, so no empty band opens beside it), the
// indicator and the button stand beside it, and the graph runs below both across the whole width. The
// drawing of each view is the same either way; only the places change, when the window's shape crosses
// from one to the other.

#include <QObject>

class QWidget;

class MainScreenLayout : public QObject {
    Q_OBJECT
public:
    // Width over height of the relief at which its drawing just fills the view from side to side.
    static constexpr double RELIEF_ASPECT = 1.6;
    // In landscape the relief's row is this many times as tall as the graph's.
    static constexpr int RELIEF_ROWS = 2;
    // The narrowest the column beside the relief gets.
    static constexpr int SIDE_MINIMUM = 160;
    // The indicator's height beside the relief.
    static constexpr int INDICATOR_HEIGHT = 48;

    struct Views {
        QWidget* spectrum;
        QWidget* indicator;
        QWidget* graph;
        QWidget* button;
    };

    // Lays out views on page (their parent) and follows page's window from then on.
    MainScreenLayout(QWidget* page, const Views& views);

    bool isLandscape() const { return _landscape; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool windowIsLandscape() const;
    void arrange(bool landscape);
    void fitRelief();

    QWidget* _page;
    Views _views;
    bool _landscape = false;
};
