// The relief widget: timer, GL set-up and presentation around SpectrumHistory and SpectrumRenderer.

#include "SpectrumView.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

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

namespace {

// Qt's own complaints while probing say less than the one line we give.
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// Platforms whose windows can hold a GL widget. The others (offscreen, minimal, vnc, linuxfb) may
// still make contexts, through the X server the environment names, yet fail when such a widget paints.
bool platformShowsOpenGLWidgets(const QString& name) {
    for (const char* prefix : {"xcb", "wayland", "eglfs", "windows", "cocoa"})
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

QString probeOpenGL() {
    if (!QGuiApplication::instance())
        return QStringLiteral("the application is not set up");
    if (!platformShowsOpenGLWidgets(QGuiApplication::platformName()))
        return QStringLiteral("the platform \"%1\" cannot show OpenGL views").arg(QGuiApplication::platformName());
    const QtMessageHandler previous = qInstallMessageHandler(quiet);
    QString reason;
    QOpenGLContext context;
    context.setFormat(SpectrumView::defaultSurfaceFormat());
    QOffscreenSurface surface;
    if (!context.create()) {
        reason = QStringLiteral("no OpenGL context can be made on the platform \"%1\"")
                     .arg(QGuiApplication::platformName());
    } else {
        surface.setFormat(context.format());
        surface.create();
        if (!surface.isValid())
            reason = QStringLiteral("no OpenGL surface can be made");
        else if (!context.makeCurrent(&surface))
            reason = QStringLiteral("the OpenGL context cannot be used");
        else {
            if (!context.functions()->glGetString(GL_VERSION))
                reason = QStringLiteral("the OpenGL driver does not answer");
            context.doneCurrent();
        }
    }
    qInstallMessageHandler(previous);
    return reason;
}

} // namespace

bool SpectrumView::canRender(QString* reason) {
    static const QString why = probeOpenGL();
    if (reason)
        *reason = why;
    return why.isEmpty();
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
