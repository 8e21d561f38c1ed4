#pragma once
// Arranges the main screen for the window's shape. While the window is taller than wide (the first-run
// default) the views stack in one column: the relief, the lie indicator, the lie graph, the notice
// strip (only while a notice is shown) and the record button. Once it is wider than tall, the relief
// takes the upper left at exactly the aspect its projection was made for (RELIEF_ASPECT: wider would
// leave empty bands beside the picture, narrower would cut its front edge), and the column beside it
// holds the indicator with its number, the notice and the button; the graph runs below both across the
// whole width and takes whatever height the relief leaves. The drawing of each view is the same
// either way; only the places change.

#include <QObject>
#include <QRect>

class QWidget;

class MainScreenLayout : public QObject {
    Q_OBJECT
public:
    // Width over height of the relief at which its drawing just fills the view from side to side.
    static const double RELIEF_ASPECT;
    // In landscape the relief's row takes at most this share of the height.
    static constexpr double RELIEF_SHARE = 0.66;
    // The narrowest the column beside the relief gets.
    static constexpr int SIDE_MINIMUM = 200;

    struct Views {
        QWidget* spectrum;
        QWidget* indicator;
        QWidget* graph;
        QWidget* notice;
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
    void placeLandscape();

    QWidget* _page;
    Views _views;
    bool _landscape = false;
};
