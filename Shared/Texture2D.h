#pragma once
// One GL texture together with the size of the content it holds. It uploads raw pixels, a QImage or a
// rendered text string into a texture with power-of-two sides (at most 1024 for images, halving the
// picture as often as needed), remembers which fraction of the texture the content covers, and draws
// it as a textured quad. Every call needs the caller's GL context to be current; the class never
// changes which context is current. Pixel rows are tightly packed, the first row being the top of the
// picture, so texture coordinate t = 0 is the top edge of the content.

#include <memory>

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <GL/gl.h>

class Texture2D {
public:
    // The pixel formats and the upload each means.
    enum Texture2DFormat : int {
        RGBA8888 = 1, // GL_RGBA, GL_UNSIGNED_BYTE
        RGB565 = 2,   // GL_RGB, GL_UNSIGNED_SHORT_5_6_5
        A8 = 3,       // GL_ALPHA, GL_UNSIGNED_BYTE
    };

    // Creates the texture and uploads data of the given format and size; contentSize is the part of
    // the texture the picture covers. An unknown format throws std::invalid_argument.
    static std::unique_ptr<Texture2D> initWithData(const void* data, int pixelFormat, unsigned width,
                                                   unsigned height, QSizeF contentSize);
    // A8 for a picture of alpha alone, RGBA8888 for one with alpha, RGB565 otherwise. A null image
    // gives null and the warning "Image is Null".
    static std::unique_ptr<Texture2D> initWithImage(const QImage& image);
    // White, word-wrapped text on a transparent A8 texture; fontSize is in pixels.
    static std::unique_ptr<Texture2D> initWithString(const QString& string, QSizeF dimensions,
                                                     Qt::Alignment alignment, const QString& fontName,
                                                     float fontSize);

    ~Texture2D();
    Texture2D(const Texture2D&) = delete;
    Texture2D& operator=(const Texture2D&) = delete;

    // Each draws one quad as a triangle strip. The caller enables GL_TEXTURE_2D, GL_VERTEX_ARRAY and
    // GL_TEXTURE_COORD_ARRAY beforehand.
    void drawAtPoint(QPointF point) const;
    void drawInRect(QRectF rect) const;
    // srcRect is in texture pixels with its origin at the top-left of the picture.
    void drawRectInRect(QRectF rect, QRectF srcRect) const;

    QString description() const;

    QSizeF contentSize() const { return _size; }
    int pixelFormat() const { return _format; }
    unsigned pixelsWide() const { return _width; }
    unsigned pixelsHigh() const { return _height; }
    GLuint name() const { return _name; }
    float maxS() const { return _maxS; }
    float maxT() const { return _maxT; }

private:
    Texture2D() = default;
    void drawQuad(const GLfloat vertices[12], const GLfloat coordinates[8]) const;

    GLuint _name = 0;
    QSizeF _size;
    unsigned _width = 0;
    unsigned _height = 0;
    int _format = 0;
    float _maxS = 0.0f;
    float _maxT = 0.0f;
};
