#pragma once
// The live spectrum relief: the last 96 log-mel spectra on a tilted plane, newest at the front, over a
// textured background with ten level bars and a grid. newData may be called from the audio thread;
// everything else belongs to the thread that owns the widget. A timer ten times a second renders a
// frame, when the history changed, into the view's own framebuffer, on a context of its own with an
// offscreen surface, and reads it back into an image the widget paints, so a suspended view keeps its
// last picture. The window around it stays a plain raster window: repainting the graph or the status
// bar never recomposes the whole window through GL.
//
// The view's context is a GL 2.1 compatibility-profile one (defaultSurfaceFormat); the application
// should also make it the default format before creating its QApplication. The framebuffer follows
// the widget's size in device pixels and is made when the widget is first shown.

#include <memory>

#include <QImage>
#include <QSurfaceFormat>
#include <QWidget>

#include "RedrawTimer.h"
#include "Shared/Signal/Sample.h"
#include "SpectrumHistory.h"

class QOffscreenSurface;
class QOpenGLContext;
class SpectrumRenderer;

class SpectrumView : public QWidget {
    Q_OBJECT
public:
    explicit SpectrumView(QWidget* parent = nullptr);
    ~SpectrumView() override;

    static QSurfaceFormat defaultSurfaceFormat();
    // Whether this process can make and use a context of that format (tried once, on first call, with
    // an offscreen surface; needs the application object). A window must hold no SpectrumView when it
    // cannot: Qt then fails on its first paint. `reason` receives one line saying why.
    static bool canRender(QString* reason = nullptr);

    void clearData();
    // Audio thread: one block of SAMPLES band values; the view copies it before returning. Real-time safe.
    void newData(const Signal::Sample* data, int length) noexcept;
    // Renders and shows one frame now (does nothing before the widget was first shown).
    void redraw();
    void resumeRedraw() { _timer.resume(); }
    void suspendRedraw() { _timer.suspend(); }
    bool isRedrawing() const { return _timer.isActive(); }
    // False when the GL set-up ran and failed (no context, no framebuffer, or no "texture.png").
    bool isUsable() const { return _usable; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void onTimer();

private:
    QSize pixelSize() const;
    bool makeCurrent();
    void setUpGL();
    // Follows the widget's size in device pixels: a new framebuffer and a frame of the current history.
    void followSize();
    // Renders the current history and reads it into the picture; the context is current.
    void renderPicture();
    void releaseGL();

    SpectrumHistory _history;
    std::unique_ptr<SpectrumFrame> _frame;
    std::unique_ptr<QOpenGLContext> _context;
    std::unique_ptr<QOffscreenSurface> _surface;
    std::unique_ptr<SpectrumRenderer> _renderer;
    QImage _picture;
    // The history's version the picture shows (read before its snapshot, so a later write shows as new).
    std::uint64_t _drawnVersion = ~std::uint64_t(0);
    RedrawTimer _timer;
    bool _usable = true;
};
