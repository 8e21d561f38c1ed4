// The relief widget: timer, GL set-up and presentation around SpectrumHistory and SpectrumRenderer.

#include "SpectrumView.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>

#include "ImageResources.h"
#include "SpectrumRenderer.h"

SpectrumView::SpectrumView(QWidget* parent)
    : QWidget(parent), _frame(new SpectrumFrame), _timer(this, &SpectrumView::onTimer) {
    // The picture covers the whole widget: nothing underneath needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

SpectrumView::~SpectrumView() {
    suspendRedraw();
    releaseGL();
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

// Platforms the relief is drawn for. On the others (offscreen, minimal, vnc, linuxfb) a context, if
// any, comes from whatever X server the environment happens to name, so the relief stays off there.
bool platformDrawsRelief(const QString& name) {
    for (const char* prefix : {"xcb", "wayland", "eglfs", "windows", "cocoa"})
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

QString probeOpenGL() {
    if (!QGuiApplication::instance())
        return QStringLiteral("the application is not set up");
    if (!platformDrawsRelief(QGuiApplication::platformName()))
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

bool SpectrumView::makeCurrent() {
    return _context && _surface && _context->makeCurrent(_surface.get());
}

void SpectrumView::releaseGL() {
    if (_renderer && makeCurrent()) {
        _renderer.reset();
        _context->doneCurrent();
    }
    _renderer.reset();
    _context.reset();
    _surface.reset();
}

QSize SpectrumView::pixelSize() const {
    const qreal ratio = devicePixelRatioF();
    return QSize(qRound(width() * ratio), qRound(height() * ratio));
}

void SpectrumView::setUpGL() {
    if (_context || !_usable)
        return;
    std::unique_ptr<QOpenGLContext> context(new QOpenGLContext);
    context->setFormat(defaultSurfaceFormat());
    std::unique_ptr<QOffscreenSurface> surface(new QOffscreenSurface);
    if (context->create()) {
        surface->setFormat(context->format());
        surface->create();
    }
    if (!context->isValid() || !surface->isValid() || !context->makeCurrent(surface.get())) {
        _usable = false;
        return;
    }
    _context = std::move(context);
    _surface = std::move(surface);
    const QSize size = pixelSize();
    std::unique_ptr<SpectrumRenderer> renderer(new SpectrumRenderer);
    if (!renderer->initialize(size.width(), size.height(),
                              ImageResources::named(QStringLiteral("texture.png"), devicePixelRatioF()))) {
        _context->doneCurrent();
        _usable = false;
        return;
    }
    _renderer = std::move(renderer);
    // Black until the first frame, as the framebuffer starts.
    _renderer->readPicture(_picture);
    _picture.setDevicePixelRatio(devicePixelRatioF());
    _context->doneCurrent();
}

void SpectrumView::renderPicture() {
    _drawnVersion = _history.version();
    _history.snapshot(*_frame);
    _renderer->redraw(*_frame);
    _renderer->readPicture(_picture);
    _picture.setDevicePixelRatio(devicePixelRatioF());
}

void SpectrumView::followSize() {
    const QSize size = pixelSize();
    if (!_renderer || size == QSize(_renderer->width(), _renderer->height()) || !makeCurrent())
        return;
    if (_renderer->createFramebuffer(size.width(), size.height()))
        renderPicture();
    _context->doneCurrent();
}

void SpectrumView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setUpGL();
    followSize();
}

void SpectrumView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    followSize();
}

void SpectrumView::paintEvent(QPaintEvent*) {
    // A window moved to a screen of another pixel ratio changes the size in pixels without a resize.
    if (_picture.size() != pixelSize())
        followSize();
    QPainter painter(this);
    // Black before the first frame and after a failed set-up.
    if (_picture.size() != pixelSize())
        painter.fillRect(rect(), Qt::black);
    if (!_picture.isNull())
        painter.drawImage(QPointF(0, 0), _picture);
}

void SpectrumView::clearData() {
    _history.clearData();
}

void SpectrumView::newData(const Signal::Sample* data, int length) noexcept {
    _history.newData(data, length);
}

void SpectrumView::redraw() {
    // A view squeezed to nothing has no picture to show.
    const QSize size = pixelSize();
    if (!_renderer || size.isEmpty() || !makeCurrent())
        return;
    // A framebuffer that cannot follow the size is reported when the frame is read.
    if (size != QSize(_renderer->width(), _renderer->height()))
        _renderer->createFramebuffer(size.width(), size.height());
    renderPicture();
    _context->doneCurrent();
    update();
}

void SpectrumView::onTimer() {
    // A history that did not change would render the picture already shown.
    if (_history.version() != _drawnVersion)
        redraw();
}
