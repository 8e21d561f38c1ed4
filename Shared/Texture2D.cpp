// Texture uploads from raw pixels, images and text, and the three ways of drawing a texture.

#include "Texture2D.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

#include <QFont>
#include <QPainter>
#include <QtGlobal>

namespace {

unsigned toPowerOfTwo(unsigned n) {
    if (n == 1 || (n & (n - 1)) == 0)
        return n;
    unsigned i = 1;
    while (i < n)
        i *= 2;
    return i;
}

// Copies the rows of image, dropping the padding QImage puts at the end of each line.
std::vector<std::uint8_t> packedRows(const QImage& image, int bytesPerPixel) {
    const int rowBytes = image.width() * bytesPerPixel;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(rowBytes) * image.height());
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        std::copy(row, row + rowBytes, out.begin() + static_cast<std::ptrdiff_t>(y) * rowBytes);
    }
    return out;
}

} // namespace

std::unique_ptr<Texture2D> Texture2D::initWithData(const void* data, int pixelFormat, unsigned width,
                                                   unsigned height, QSizeF contentSize) {
    GLenum format;
    GLenum type;
    switch (pixelFormat) {
    case RGBA8888:
        format = GL_RGBA;
        type = GL_UNSIGNED_BYTE;
        break;
    case RGB565:
        format = GL_RGB;
        type = GL_UNSIGNED_SHORT_5_6_5;
        break;
    case A8:
        format = GL_ALPHA;
        type = GL_UNSIGNED_BYTE;
        break;
    default:
        throw std::invalid_argument("");
    }

    std::unique_ptr<Texture2D> texture(new Texture2D);
    glGenTextures(1, &texture->_name);
    GLint saveName = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &saveName);
    glBindTexture(GL_TEXTURE_2D, texture->_name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    // Rows are tightly packed; the default alignment of 4 would misread narrow A8 and RGB565 rows.
    GLint saveAlignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &saveAlignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), static_cast<GLsizei>(width),
                 static_cast<GLsizei>(height), 0, format, type, data);
    glPixelStorei(GL_UNPACK_ALIGNMENT, saveAlignment);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(saveName));

    texture->_size = contentSize;
    texture->_width = width;
    texture->_height = height;
    texture->_format = pixelFormat;
    texture->_maxS = static_cast<float>(contentSize.width()) / static_cast<float>(width);
    texture->_maxT = static_cast<float>(contentSize.height()) / static_cast<float>(height);
    return texture;
}

std::unique_ptr<Texture2D> Texture2D::initWithImage(const QImage& image) {
    if (image.isNull()) {
        qWarning("Image is Null");
        return nullptr;
    }
    int pixelFormat;
    if (image.format() == QImage::Format_Alpha8)
        pixelFormat = A8;
    else if (image.hasAlphaChannel())
        pixelFormat = RGBA8888;
    else
        pixelFormat = RGB565;

    float imageWidth = static_cast<float>(image.width());
    float imageHeight = static_cast<float>(image.height());
    unsigned width = toPowerOfTwo(static_cast<unsigned>(imageWidth));
    unsigned height = toPowerOfTwo(static_cast<unsigned>(imageHeight));
    double scale = 1.0;
    while (width > 1024 || height > 1024) {
        width /= 2;
        height /= 2;
        scale *= 0.5;
        imageWidth /= 2;
        imageHeight /= 2;
    }

    QImage::Format bufferFormat = pixelFormat == RGBA8888 ? QImage::Format_RGBA8888_Premultiplied
                                  : pixelFormat == RGB565 ? QImage::Format_RGBX8888
                                                          : QImage::Format_Alpha8;
    QImage buffer(static_cast<int>(width), static_cast<int>(height), bufferFormat);
    buffer.fill(0);
    {
        QPainter painter(&buffer);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.scale(scale, scale);
        // The content lands in the top rows; the transform does the scaling.
        painter.drawImage(QRectF(0, 0, image.width(), image.height()), image);
    }

    const QSizeF contentSize(imageWidth, imageHeight);
    if (pixelFormat == RGB565) {
        std::vector<std::uint16_t> pixels(static_cast<std::size_t>(width) * height);
        for (unsigned y = 0; y < height; ++y) {
            const uchar* row = buffer.constScanLine(static_cast<int>(y));
            for (unsigned x = 0; x < width; ++x) {
                const uchar* p = row + 4 * x;
                pixels[y * width + x] =
                    static_cast<std::uint16_t>(((p[0] >> 3) << 11) | ((p[1] >> 2) << 5) | (p[2] >> 3));
            }
        }
        return initWithData(pixels.data(), pixelFormat, width, height, contentSize);
    }
    const std::vector<std::uint8_t> pixels = packedRows(buffer, pixelFormat == RGBA8888 ? 4 : 1);
    return initWithData(pixels.data(), pixelFormat, width, height, contentSize);
}

std::unique_ptr<Texture2D> Texture2D::initWithString(const QString& string, QSizeF dimensions,
                                                     Qt::Alignment alignment, const QString& fontName,
                                                     float fontSize) {
    const unsigned width = toPowerOfTwo(static_cast<unsigned>(dimensions.width()));
    const unsigned height = toPowerOfTwo(static_cast<unsigned>(dimensions.height()));
    QImage buffer(static_cast<int>(width), static_cast<int>(height), QImage::Format_Grayscale8);
    buffer.fill(0);
    {
        QPainter painter(&buffer);
        QFont font(fontName);
        font.setPixelSize(qMax(1, qRound(fontSize)));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(QPointF(0, 0), dimensions),
                         static_cast<int>((alignment & Qt::AlignHorizontal_Mask) | Qt::AlignTop) |
                             Qt::TextWordWrap,
                         string);
    }
    // The grey levels of the rendering become the alpha of the texture.
    const std::vector<std::uint8_t> pixels = packedRows(buffer, 1);
    return initWithData(pixels.data(), A8, width, height, dimensions);
}

Texture2D::~Texture2D() {
    if (_name)
        glDeleteTextures(1, &_name);
}

void Texture2D::drawQuad(const GLfloat vertices[12], const GLfloat coordinates[8]) const {
    glBindTexture(GL_TEXTURE_2D, _name);
    glVertexPointer(3, GL_FLOAT, 0, vertices);
    glTexCoordPointer(2, GL_FLOAT, 0, coordinates);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void Texture2D::drawAtPoint(QPointF point) const {
    const float w = static_cast<float>(_width) * _maxS;
    const float h = static_cast<float>(_height) * _maxT;
    const float px = static_cast<float>(point.x());
    const float py = static_cast<float>(point.y());
    const GLfloat left = w * -0.5f + px, right = w * 0.5f + px;
    const GLfloat bottom = h * -0.5f + py, top = h * 0.5f + py;
    const GLfloat vertices[12] = {left, bottom, 0, right, bottom, 0, left, top, 0, right, top, 0};
    const GLfloat coordinates[8] = {0, _maxT, _maxS, _maxT, 0, 0, _maxS, 0};
    drawQuad(vertices, coordinates);
}

void Texture2D::drawInRect(QRectF rect) const {
    const float x = static_cast<float>(rect.x()), y = static_cast<float>(rect.y());
    const float w = static_cast<float>(rect.width()), h = static_cast<float>(rect.height());
    const GLfloat vertices[12] = {x, y, 0, x + w, y, 0, x, y + h, 0, x + w, y + h, 0};
    const GLfloat coordinates[8] = {0, _maxT, _maxS, _maxT, 0, 0, _maxS, 0};
    drawQuad(vertices, coordinates);
}

void Texture2D::drawRectInRect(QRectF rect, QRectF srcRect) const {
    const float x = static_cast<float>(rect.x()), y = static_cast<float>(rect.y());
    const float w = static_cast<float>(rect.width()), h = static_cast<float>(rect.height());
    const float sx = static_cast<float>(srcRect.x()), sy = static_cast<float>(srcRect.y());
    const float sw = static_cast<float>(srcRect.width()), sh = static_cast<float>(srcRect.height());
    const float fw = static_cast<float>(_width), fh = static_cast<float>(_height);
    const GLfloat vertices[12] = {x, y, 0, x + w, y, 0, x, y + h, 0, x + w, y + h, 0};
    const GLfloat coordinates[8] = {sx / fw, (sy + sh) / fh, (sx + sw) / fw, (sy + sh) / fh,
                                    sx / fw, sy / fh,        (sx + sw) / fw, sy / fh};
    drawQuad(vertices, coordinates);
}

QString Texture2D::description() const {
    return QString::asprintf("<%s = %08llX | Name = %i | Dimensions = %ix%i | Coordinates = (%.2f, %.2f)>",
                             "Texture2D", static_cast<unsigned long long>(reinterpret_cast<quintptr>(this)),
                             static_cast<int>(_name), static_cast<int>(_width), static_cast<int>(_height),
                             static_cast<double>(_maxS), static_cast<double>(_maxT));
}
