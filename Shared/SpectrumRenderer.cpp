// The relief's GL drawing: framebuffer, projection, background plane, bars, grid and strips.

#include "SpectrumRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <GL/glext.h>

#include "Texture2D.h"
#include "src/brel_memory.h"

using namespace SpectrumConstants;

static_assert(sizeof(Color4u) == 4, "colours are handed to GL as four packed bytes");

void glPerspective(float fovy, float aspect, float zNear, float zFar) {
    const float a = fovy / 360.0f;
    const double ymax = static_cast<double>(zNear) * std::tan(static_cast<double>(a) * M_PI);
    const double xmax = ymax * static_cast<double>(aspect);
    const float x = static_cast<float>(xmax);
    const float y = static_cast<float>(ymax);
    glFrustum(-x, x, -y, y, zNear, zFar);
}

SpectrumRenderer::SpectrumRenderer() = default;

SpectrumRenderer::~SpectrumRenderer() {
    deleteFramebuffer();
}

void SpectrumRenderer::deleteFramebuffer() {
    if (_frameBuffer)
        glDeleteFramebuffers(1, &_frameBuffer);
    if (_renderBuffer)
        glDeleteRenderbuffers(1, &_renderBuffer);
    if (_depthBuffer)
        glDeleteRenderbuffers(1, &_depthBuffer);
    if (_backgroundFrameBuffer)
        glDeleteFramebuffers(1, &_backgroundFrameBuffer);
    if (_backgroundRenderBuffer)
        glDeleteRenderbuffers(1, &_backgroundRenderBuffer);
    _frameBuffer = _renderBuffer = _depthBuffer = 0;
    _backgroundFrameBuffer = _backgroundRenderBuffer = 0;
    _backgroundDrawn = false;
    _width = _height = 0;
}

bool SpectrumRenderer::initialize(int width, int height, const QImage& background) {
    if (!createFramebuffer(width, height))
        return false;
    _backgroundTexture = Texture2D::initWithImage(background);
    if (!_backgroundTexture)
        return false;
    _backgroundScale = background.devicePixelRatio();
    _backgroundDrawn = false;
    return true;
}

void SpectrumRenderer::bindColourFramebuffer(GLuint& frameBuffer, GLuint& renderBuffer, int width, int height) {
    glGenFramebuffers(1, &frameBuffer);
    glGenRenderbuffers(1, &renderBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, renderBuffer);
    // Eight bits a channel: the relief's colours come back exactly as they were computed.
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderBuffer);
}

bool SpectrumRenderer::createFramebuffer(int width, int height) {
    deleteFramebuffer();
    if (width < 1 || height < 1)
        return false;
    bindColourFramebuffer(_frameBuffer, _renderBuffer, width, height);
    glGenRenderbuffers(1, &_depthBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, _depthBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, _depthBuffer);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        deleteFramebuffer();
        return false;
    }
    _width = width;
    _height = height;
    createBackgroundBuffer();
    glBindFramebuffer(GL_FRAMEBUFFER, _frameBuffer);
    // Nothing is drawn until the first frame: show black rather than whatever the storage held.
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    setupViewportForSize(width, height);
    return true;
}

void SpectrumRenderer::createBackgroundBuffer() {
    bindColourFramebuffer(_backgroundFrameBuffer, _backgroundRenderBuffer, _width, _height);
    // Without it every frame draws the plane itself, as the first one does.
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        glDeleteFramebuffers(1, &_backgroundFrameBuffer);
        glDeleteRenderbuffers(1, &_backgroundRenderBuffer);
        _backgroundFrameBuffer = _backgroundRenderBuffer = 0;
    }
    _backgroundDrawn = false;
}

void SpectrumRenderer::setupViewportForSize(int width, int height) {
    glViewport(0, 0, width, height);
    glScissor(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glPerspective(10.0f, static_cast<float>(width) / static_cast<float>(height), 1.0f, 2000.0f);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
}

void SpectrumRenderer::redraw(const SpectrumFrame& frame) {
    if (!_frameBuffer)
        return;
    glBindFramebuffer(GL_FRAMEBUFFER, _frameBuffer);
    // A context shared with a toolkit may have moved these since the framebuffer was made.
    glViewport(0, 0, _width, _height);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glShadeModel(GL_SMOOTH);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);

    drawBg(frame);

    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.0f, -1.7f, -85.0f);
    glRotatef(-80.0f, 1.0f, 0.0f, 0.0f);

    const float step = 5.0f / 12.0f;
    int line = frame.head;
    float y = 20.0f;
    const Color4u anyColour = {0, 0, 0, 0};
    for (int strip = 0; strip < LINES - 1; ++strip) {
        const int next = (line + 1) % LINES;
        const int base = line * SAMPLES;
        const int nextBase = next * SAMPLES;
        _vertices.resize(0, 0.0f);
        _colors.resize(0, anyColour);
        if (!(base + SAMPLES <= LINES * SAMPLES))
            brel::mac::assertion_failure("base + SAMPLES <= LINES*SAMPLES", "Shared/SpectrumView", __LINE__);
        if (!(nextBase + SAMPLES <= LINES * SAMPLES))
            brel::mac::assertion_failure("nextBase + SAMPLES <= LINES*SAMPLES", "Shared/SpectrumView",
                                         __LINE__);
        float x = -10.0f;
        for (int j = 0; j < SAMPLES; ++j) {
            _vertices.push_back(x);
            _vertices.push_back(y);
            _vertices.push_back(frame.data[base + j] + frame.data[base + j]);
            _colors.push_back(frame.imgData[base + j]);
            _vertices.push_back(x);
            _vertices.push_back(y - step);
            _vertices.push_back(frame.data[nextBase + j] + frame.data[nextBase + j]);
            _colors.push_back(frame.imgData[nextBase + j]);
            x = x + 0.625f;
        }
        // Close the strip at the right-hand edge, down to height 0.
        const Color4u last = _colors[_colors.size() - 1];
        _vertices.push_back(x);
        _vertices.push_back(y);
        _vertices.push_back(0.0f);
        _colors.push_back(last);
        _vertices.push_back(x);
        _vertices.push_back(y - step);
        _vertices.push_back(0.0f);
        _colors.push_back(last);

        glVertexPointer(3, GL_FLOAT, 0, _vertices.data());
        glColorPointer(4, GL_UNSIGNED_BYTE, 0, _colors.data());
        glDrawArrays(GL_TRIANGLE_STRIP, 0, _colors.size());
        y = y - step;
        line = next;
    }
}

void SpectrumRenderer::drawPlane(GLbitfield clearMask) {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepth(0.0);
    glClear(clearMask);
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -90.0f);

    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    // The texture is modulated by the current colour, which the last frame's colour arrays left
    // undefined: without this the background would take the tint of the nearest strip's last vertex.
    glColor4ub(255, 255, 255, 255);
    if (_backgroundTexture) {
        // The source rectangle is in pixels of a picture at 1x; a denser picture covers the same part.
        const qreal s = _backgroundScale;
        _backgroundTexture->drawRectInRect(QRectF(-15.4, -8.5, 30.8, 17.0), QRectF(0, 0, 273 * s, 143 * s));
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisable(GL_TEXTURE_2D);
    glEnableClientState(GL_COLOR_ARRAY);
}

void SpectrumRenderer::drawBg(const SpectrumFrame& frame) {
    if (_backgroundFrameBuffer) {
        // The cleared, textured plane is the same in every frame: it is drawn once for the framebuffer
        // and copied from then on, which a software rasteriser does far faster than it samples.
        if (!_backgroundDrawn) {
            glBindFramebuffer(GL_FRAMEBUFFER, _backgroundFrameBuffer);
            drawPlane(GL_COLOR_BUFFER_BIT);
            _backgroundDrawn = true;
        }
        glBindFramebuffer(GL_READ_FRAMEBUFFER, _backgroundFrameBuffer);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, _frameBuffer);
        glBlitFramebuffer(0, 0, _width, _height, 0, 0, _width, _height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        glBindFramebuffer(GL_FRAMEBUFFER, _frameBuffer);
        glClearDepth(0.0);
        glClear(GL_DEPTH_BUFFER_BIT);
        glEnableClientState(GL_VERTEX_ARRAY);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(0.0f, 0.0f, -90.0f);
        glColor4ub(255, 255, 255, 255);
        glEnableClientState(GL_COLOR_ARRAY);
    } else {
        drawPlane(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    drawBars(frame.bars);
    glEnableClientState(GL_COLOR_ARRAY);

    const Color4u anyColour = {0, 0, 0, 0};
    _vertices.resize(0, 0.0f);
    _colors.resize(0, anyColour);
    float y = 7.8f;
    Color4u colour = {128, 128, 108, 255};
    for (int i = 0; i < 8; ++i) {
        const float ends[2] = {-15.2f, 15.2f};
        for (float x : ends) {
            _vertices.push_back(x);
            _vertices.push_back(y);
            _vertices.push_back(0.0f);
            _colors.push_back(colour);
        }
        y = y - 2.2f;
        colour.r = static_cast<std::uint8_t>(colour.r - 15);
        colour.g = static_cast<std::uint8_t>(colour.g - 15);
        colour.b = static_cast<std::uint8_t>(colour.b - 10);
    }
    glVertexPointer(3, GL_FLOAT, 0, _vertices.data());
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, _colors.data());
    glDrawArrays(GL_LINES, 0, 16);

    _vertices.resize(0, 0.0f);
    _colors.resize(0, anyColour);
    const Color4u bottom = {0, 0, 0, 255};
    const Color4u top = {128, 128, 108, 255};
    float x = -15.0f;
    for (int i = 0; i < 11; ++i) {
        _vertices.push_back(x);
        _vertices.push_back(-7.6f);
        _vertices.push_back(0.0f);
        _colors.push_back(bottom);
        _vertices.push_back(x);
        _vertices.push_back(7.8f);
        _vertices.push_back(0.0f);
        _colors.push_back(top);
        x = x + 3.0f;
    }
    glVertexPointer(3, GL_FLOAT, 0, _vertices.data());
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, _colors.data());
    glDrawArrays(GL_LINES, 0, 22);
}

void SpectrumRenderer::drawBars(const float bars[BARS]) {
    const GLubyte colours[16] = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    float x = -15.15f;
    for (int i = 0; i < BARS; ++i) {
        const float level = 8.0f * bars[i];
        const GLfloat vertices[12] = {x, 7.8f,  0.0f, x + 3.03f, 7.8f,  0.0f,
                                      x, level, 0.0f, x + 3.03f, level, 0.0f};
        glVertexPointer(3, GL_FLOAT, 0, vertices);
        glColorPointer(4, GL_UNSIGNED_BYTE, 0, colours);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        x = x + 3.03f;
    }
}

namespace {

void reportPresentFailure() {
    std::printf("Failed to swap renderbuffer in %s\n", "-[SpectrumView swapBuffers]");
}

} // namespace

bool SpectrumRenderer::swapBuffers(GLuint target, int targetWidth, int targetHeight) {
    bool presented = false;
    if (_frameBuffer) {
        while (glGetError() != GL_NO_ERROR) {
        }
        glBindFramebuffer(GL_READ_FRAMEBUFFER, _frameBuffer);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
        glBlitFramebuffer(0, 0, _width, _height, 0, 0, targetWidth, targetHeight, GL_COLOR_BUFFER_BIT,
                          GL_LINEAR);
        presented = glGetError() == GL_NO_ERROR;
        glBindFramebuffer(GL_FRAMEBUFFER, target);
    }
    if (!presented)
        reportPresentFailure();
    return presented;
}

void SpectrumRenderer::readInto(GLenum format, QImage& image) {
    glBindFramebuffer(GL_FRAMEBUFFER, _frameBuffer);
    GLint saveAlignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &saveAlignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, _width, _height, format, GL_UNSIGNED_BYTE, image.bits());
    glPixelStorei(GL_PACK_ALIGNMENT, saveAlignment);
    // GL's rows come bottom first.
    const qsizetype line = image.bytesPerLine();
    for (int top = 0, bottom = _height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(image.scanLine(top), image.scanLine(top) + line, image.scanLine(bottom));
}

QImage SpectrumRenderer::readImage() {
    if (!_frameBuffer)
        return QImage();
    QImage image(_width, _height, QImage::Format_RGBA8888);
    readInto(GL_RGBA, image);
    return image;
}

bool SpectrumRenderer::readPicture(QImage& picture) {
    if (!_frameBuffer) {
        reportPresentFailure();
        return false;
    }
    if (picture.width() != _width || picture.height() != _height || picture.format() != QImage::Format_RGB32)
        picture = QImage(_width, _height, QImage::Format_RGB32);
    // BGRA bytes are RGB32's layout in memory on a little-endian machine.
    readInto(GL_BGRA, picture);
    // RGB32 wants every alpha byte at 255, whatever the background's texture left there. Set here
    // rather than by a masked clear, which a software rasteriser draws as a shaded quad over the frame.
    for (int row = 0; row < _height; ++row) {
        auto* pixel = reinterpret_cast<std::uint32_t*>(picture.scanLine(row));
        for (int x = 0; x < _width; ++x)
            pixel[x] |= 0xff000000u;
    }
    return true;
}
