// Texture sizes and formats, the exact uploads (read back through a draw), text, failures and the
// description.

#include <QImage>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include "Shared/HeadlessContext.h"
#include "Shared/SpectrumRenderer.h"
#include "Shared/Texture2D.h"

namespace {

QStringList warnings;
void collect(QtMsgType, const QMessageLogContext&, const QString& message) {
    warnings << message;
}

class Texture : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(_context.create()) << _context.error(); }

    // Draws texture over the whole of a size x size framebuffer and reads it back, top row first.
    QImage drawFull(const Texture2D& texture, int size) {
        GLuint fbo = 0, colour = 0;
        SpectrumRenderer::bindColourFramebuffer(fbo, colour, size, size);
        glViewport(0, 0, size, size);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, size, 0, size, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_BLEND);
        glEnable(GL_TEXTURE_2D);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glBindTexture(GL_TEXTURE_2D, texture.name());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        texture.drawRectInRect(QRectF(0, 0, size, size),
                               QRectF(0, 0, texture.pixelsWide(), texture.pixelsHigh()));
        QImage image(size, size, QImage::Format_RGBA8888);
        glReadPixels(0, 0, size, size, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
        glDeleteFramebuffers(1, &fbo);
        glDeleteRenderbuffers(1, &colour);
        return image.mirrored();
    }

    HeadlessContext _context;
};

} // namespace

TEST_F(Texture, ImageWithoutAlphaIsPaddedToPowersOfTwoAsRgb565) {
    QImage image(273, 143, QImage::Format_RGB32);
    image.fill(Qt::red);
    auto texture = Texture2D::initWithImage(image);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->pixelFormat(), Texture2D::RGB565);
    EXPECT_EQ(texture->pixelsWide(), 512u);
    EXPECT_EQ(texture->pixelsHigh(), 256u);
    EXPECT_EQ(texture->contentSize(), QSizeF(273, 143));
    EXPECT_EQ(texture->maxS(), 273.0f / 512.0f);
    EXPECT_EQ(texture->maxT(), 143.0f / 256.0f);
}

TEST_F(Texture, LargeImagesAreHalvedToTheLimit) {
    QImage image(2048, 100, QImage::Format_RGB32);
    image.fill(Qt::blue);
    auto texture = Texture2D::initWithImage(image);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->pixelsWide(), 1024u);
    EXPECT_EQ(texture->pixelsHigh(), 64u);
    EXPECT_EQ(texture->contentSize(), QSizeF(1024, 50));

    QImage square(256, 1, QImage::Format_RGB32);
    square.fill(Qt::blue);
    auto kept = Texture2D::initWithImage(square);
    EXPECT_EQ(kept->pixelsWide(), 256u);
    EXPECT_EQ(kept->pixelsHigh(), 1u);
}

TEST_F(Texture, FormatFollowsTheImage) {
    QImage alpha(8, 8, QImage::Format_ARGB32);
    alpha.fill(QColor(10, 20, 30, 40));
    EXPECT_EQ(Texture2D::initWithImage(alpha)->pixelFormat(), Texture2D::RGBA8888);
    QImage mask(8, 8, QImage::Format_Alpha8);
    mask.fill(0);
    EXPECT_EQ(Texture2D::initWithImage(mask)->pixelFormat(), Texture2D::A8);
    QImage grey(8, 8, QImage::Format_Grayscale8);
    grey.fill(0);
    EXPECT_EQ(Texture2D::initWithImage(grey)->pixelFormat(), Texture2D::RGB565);
}

TEST_F(Texture, UploadsKeepPixelsRowsAndTheTopAtTEqualZero) {
    // Three pixels wide: rows of 6 bytes in RGB565, which a 4-byte unpack alignment would skew.
    QImage image(3, 2, QImage::Format_RGB32);
    image.setPixelColor(0, 0, QColor(255, 0, 0));
    image.setPixelColor(1, 0, QColor(0, 255, 0));
    image.setPixelColor(2, 0, QColor(0, 0, 255));
    image.setPixelColor(0, 1, QColor(255, 255, 255));
    image.setPixelColor(1, 1, QColor(0, 0, 0));
    image.setPixelColor(2, 1, QColor(255, 255, 0));
    auto texture = Texture2D::initWithImage(image);
    ASSERT_TRUE(texture);
    ASSERT_EQ(texture->pixelsWide(), 4u);
    ASSERT_EQ(texture->pixelsHigh(), 2u);
    const QImage drawn = drawFull(*texture, 8);
    // Each texel covers 2 x 4 pixels; the image's top row is drawn at the top.
    EXPECT_EQ(drawn.pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(drawn.pixelColor(2, 0), QColor(0, 255, 0));
    EXPECT_EQ(drawn.pixelColor(4, 0), QColor(0, 0, 255));
    EXPECT_EQ(drawn.pixelColor(0, 7), QColor(255, 255, 255));
    EXPECT_EQ(drawn.pixelColor(2, 7), QColor(0, 0, 0));
    EXPECT_EQ(drawn.pixelColor(4, 7), QColor(255, 255, 0));

    const unsigned char a8[6] = {0, 50, 100, 150, 200, 250};
    auto mask = Texture2D::initWithData(a8, Texture2D::A8, 3, 2, QSizeF(3, 2));
    const QImage alpha = drawFull(*mask, 6);
    EXPECT_EQ(alpha.pixelColor(2, 0).alpha(), 50);
    EXPECT_EQ(alpha.pixelColor(0, 5).alpha(), 150);
    EXPECT_EQ(alpha.pixelColor(5, 5).alpha(), 250);
}

TEST_F(Texture, TextIsWhiteOnTransparentA8) {
    auto texture =
        Texture2D::initWithString("Veraxo listens", QSizeF(100, 30), Qt::AlignLeft, "DejaVu Sans", 14);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->pixelFormat(), Texture2D::A8);
    EXPECT_EQ(texture->pixelsWide(), 128u);
    EXPECT_EQ(texture->pixelsHigh(), 32u);
    EXPECT_EQ(texture->contentSize(), QSizeF(100, 30));
    const QImage drawn = drawFull(*texture, 128);
    int opaque = 0;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            opaque += drawn.pixelColor(x, y).alpha() > 128 ? 1 : 0;
    EXPECT_GT(opaque, 100);
    // Nothing beyond the 100-pixel-wide content (columns 100-127 of the texture).
    for (int y = 0; y < 128; ++y)
        for (int x = 101; x < 128; ++x)
            ASSERT_EQ(drawn.pixelColor(x, y).alpha(), 0) << x << ", " << y;
}

TEST_F(Texture, NullImageAndBadFormatFail) {
    warnings.clear();
    QtMessageHandler previous = qInstallMessageHandler(collect);
    EXPECT_FALSE(Texture2D::initWithImage(QImage()));
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, QStringList{"Image is Null"});
    const unsigned char pixel[4] = {};
    EXPECT_THROW(Texture2D::initWithData(pixel, 4, 1, 1, QSizeF(1, 1)), std::invalid_argument);
    EXPECT_THROW(Texture2D::initWithData(pixel, 0, 1, 1, QSizeF(1, 1)), std::invalid_argument);
}

TEST_F(Texture, DescriptionNamesTheTexture) {
    const unsigned char pixel[4] = {};
    auto texture = Texture2D::initWithData(pixel, Texture2D::RGBA8888, 1, 1, QSizeF(1, 1));
    const QString text = texture->description();
    const QRegularExpression format("^<Texture2D = [0-9A-F]{8,} \\| Name = (\\d+) \\| Dimensions = 1x1 \\| "
                                    "Coordinates = \\(1\\.00, 1\\.00\\)>$");
    const auto match = format.match(text);
    ASSERT_TRUE(match.hasMatch()) << text.toStdString();
    EXPECT_EQ(match.captured(1).toUInt(), texture->name());
}
