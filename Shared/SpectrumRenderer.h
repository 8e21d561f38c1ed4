#pragma once
// Draws the spectrum relief with fixed-function GL on whatever context is current: the widget's
// context in the app, a headless EGL context for pictures and tests. It owns the view's framebuffer
// (a colour and a 16-bit depth renderbuffer), a colour buffer holding the drawn background plane, and
// the background texture, so it must be created, used and destroyed with the same context current.
//
// A frame clears to black, draws part of "texture.png" on a background plane (copied from the second
// buffer after the first frame of a size, pixel for pixel the same), masks it above each
// level bar, draws a grid, and then lays the 95 strips between the 96 history lines onto a tilted
// plane from the farthest to the nearest, with neither depth test nor blending: nearer strips simply
// paint over farther ones. The vertex and colour arrays are kept between frames, so a steady frame
// allocates nothing.

#include <memory>

#include <QImage>

#include <GL/gl.h>

#include "SpectrumHistory.h"
#include "src/brel_array.h"

class Texture2D;

// A symmetric perspective projection of vertical field fovy degrees, multiplied onto the current matrix.
void glPerspective(float fovy, float aspect, float zNear, float zFar);

class SpectrumRenderer {
public:
    SpectrumRenderer();
    ~SpectrumRenderer();
    SpectrumRenderer(const SpectrumRenderer&) = delete;
    SpectrumRenderer& operator=(const SpectrumRenderer&) = delete;

    // Makes the framebuffer of width x height pixels and the background texture from image (whose
    // device pixel ratio scales the part of it that is shown). False when either cannot be made.
    bool initialize(int width, int height, const QImage& background);
    // (Re)makes the framebuffer and its two renderbuffers; false when it is not complete.
    bool createFramebuffer(int width, int height);
    void setupViewportForSize(int width, int height);

    // Renders one frame of the given history into the framebuffer.
    void redraw(const SpectrumFrame& frame);
    void drawBg(const SpectrumFrame& frame);
    void drawBars(const float bars[SpectrumConstants::BARS]);
    // Copies the framebuffer into the framebuffer named target, scaled to targetWidth x targetHeight.
    // On failure it prints "Failed to swap renderbuffer in ..." and returns false.
    bool swapBuffers(GLuint target, int targetWidth, int targetHeight);
    // The framebuffer's pixels, top row first.
    QImage readImage();
    // The same pixels as an opaque Format_RGB32 image, into picture, which is reused when it already
    // has the framebuffer's size and format (a steady frame allocates nothing). Without a framebuffer
    // it fails as swapBuffers does.
    bool readPicture(QImage& picture);

    int width() const { return _width; }
    int height() const { return _height; }

    // Makes a framebuffer with an RGBA8 colour renderbuffer of width x height attached, and binds both.
    static void bindColourFramebuffer(GLuint& frameBuffer, GLuint& renderBuffer, int width, int height);

private:
    void deleteFramebuffer();
    // The copy of the cleared, textured background plane, of the framebuffer's size; none when the
    // driver cannot make it.
    void createBackgroundBuffer();
    // Clears what clearMask names and draws the textured background plane into the bound framebuffer.
    void drawPlane(GLbitfield clearMask);
    // Reads the framebuffer in the given GL format into image (of its size, four bytes a pixel), top
    // row first.
    void readInto(GLenum format, QImage& image);

    GLuint _frameBuffer = 0;
    GLuint _renderBuffer = 0;
    GLuint _depthBuffer = 0;
    GLuint _backgroundFrameBuffer = 0;
    GLuint _backgroundRenderBuffer = 0;
    bool _backgroundDrawn = false;
    int _width = 0;
    int _height = 0;
    std::unique_ptr<Texture2D> _backgroundTexture;
    qreal _backgroundScale = 1.0;
    brel::array<float> _vertices;
    brel::array<Color4u> _colors;
};
