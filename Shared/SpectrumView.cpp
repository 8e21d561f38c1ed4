// The relief widget: timer, GL set-up and presentation around SpectrumHistory and SpectrumRenderer.

#include "SpectrumView.h"

#include <QOpenGLContext>

#include "SpectrumRenderer.h"
#include "app/ImageResources.h"

SpectrumView::SpectrumView(QWidget* parent) : QOpenGLWidget(parent), _frame(new SpectrumFrame), _timer(this) {
    setFormat(defaultSurfaceFormat());
    _timer.setInterval(100);
    connect(&_timer, &QTimer::timeout, this, &SpectrumView::onTimer);
}

SpectrumView::~SpectrumView() {
    suspendRedraw();
    releaseGL();
    // The base class destroys the context after this object is gone: its notice must not reach us.
    if (context())
        disconnect(context(), nullptr, this, nullptr);
}

QSurfaceFormat SpectrumView::defaultSurfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(16);
    return format;
}

void SpectrumView::releaseGL() {
    if (!_renderer)
        return;
    makeCurrent();
    _renderer.reset();
    doneCurrent();
}

QSize SpectrumView::pixelSize() const {
    const qreal ratio = devicePixelRatioF();
    return QSize(qRound(width() * ratio), qRound(height() * ratio));
}

void SpectrumView::initializeGL() {
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &SpectrumView::releaseGL,
            Qt::DirectConnection);
    const QSize size = pixelSize();
    std::unique_ptr<SpectrumRenderer> renderer(new SpectrumRenderer);
    if (!renderer->initialize(size.width(), size.height(),
                              ImageResources::named(QStringLiteral("texture.png"), devicePixelRatioF()))) {
        _usable = false;
        return;
    }
    _renderer = std::move(renderer);
}

void SpectrumView::resizeGL(int, int) {
    const QSize size = pixelSize();
    if (!_renderer || (size.width() == _renderer->width() && size.height() == _renderer->height()))
        return;
    if (!_renderer->createFramebuffer(size.width(), size.height()))
        return;
    _history.snapshot(*_frame);
    _renderer->redraw(*_frame);
}

void SpectrumView::paintGL() {
    if (_renderer) {
        const QSize size = pixelSize();
        _renderer->swapBuffers(defaultFramebufferObject(), size.width(), size.height());
        return;
    }
    // A view whose set-up failed shows black rather than whatever its storage held.
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void SpectrumView::clearData() {
    _history.clearData();
}

void SpectrumView::newData(const Signal::Sample* data, int length) noexcept {
    _history.newData(data, length);
}

void SpectrumView::redraw() {
    if (!_renderer)
        return;
    makeCurrent();
    _history.snapshot(*_frame);
    _renderer->redraw(*_frame);
    doneCurrent();
    update();
}

void SpectrumView::resumeRedraw() {
    if (!_timer.isActive())
        _timer.start();
}

void SpectrumView::suspendRedraw() {
    _timer.stop();
}

void SpectrumView::onTimer() {
    redraw();
}
