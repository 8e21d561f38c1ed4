#pragma once
// The live spectrum relief: the last 96 log-mel spectra on a tilted plane, newest at the front, over a
// textured background with ten level bars and a grid. newData may be called from the audio thread;
// everything else belongs to the thread that owns the widget. Frames are rendered ten times a second
// from a timer into the view's own framebuffer and then shown in the widget, so a suspended view keeps
// its last picture.
//
// The widget asks for a GL 2.1 compatibility-profile context (defaultSurfaceFormat); the application
// should also make it the default format before creating its QApplication. The framebuffer follows
// the widget's size in device pixels.

#include <memory>

#include <QOpenGLWidget>
#include <QSurfaceFormat>
#include <QTimer>

#include "Shared/Signal/Sample.h"
#include "SpectrumHistory.h"

class SpectrumRenderer;

class SpectrumView : public QOpenGLWidget {
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
    // Renders and shows one frame now (does nothing before the widget's GL set-up has run).
    void redraw();
    void resumeRedraw();
    void suspendRedraw();
    bool isRedrawing() const { return _timer.isActive(); }
    // False when the GL set-up ran and failed (no framebuffer, or no "texture.png").
    bool isUsable() const { return _usable; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private slots:
    void onTimer();

private:
    QSize pixelSize() const;
    void releaseGL();

    SpectrumHistory _history;
    std::unique_ptr<SpectrumFrame> _frame;
    std::unique_ptr<SpectrumRenderer> _renderer;
    QTimer _timer;
    bool _usable = true;
};
