#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "app/JpegPreview.h"
#include "support/ChildProcess.h"
#include "support/TestData.h"

using namespace tarnwick;

namespace {

QByteArray PictureBytes(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format, 90)) << format;
    return bytes;
}

QByteArray JpegBytes(const QImage& image) { return PictureBytes(image, "JPEG"); }

std::string Write(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
    return path;
}

// A JPEG whose frame header declares width x height (the rest of the file is a small picture's).
QByteArray DeclaringSize(QByteArray jpeg, unsigned width, unsigned height) {
    for (qsizetype i = 0; i + 9 < jpeg.size(); ++i) {
        const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2)) {
            jpeg[i + 5] = static_cast<char>(height >> 8), jpeg[i + 6] = static_cast<char>(height & 0xFF);
            jpeg[i + 7] = static_cast<char>(width >> 8), jpeg[i + 8] = static_cast<char>(width & 0xFF);
            return jpeg;
        }
    }
    ADD_FAILURE() << "no frame header in the sample picture";
    return jpeg;
}

}  // namespace

TEST(JpegPreview, DecodesScaledDownAndRefusesWhatIsNotAWholeJpeg) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage picture(640, 480, QImage::Format_RGB32);
    picture.fill(QColor(200, 40, 40));
    const QByteArray jpeg = JpegBytes(picture);

    const QImage decoded = LoadJpegPreview(Write(dir, "good.jpg", jpeg));
    ASSERT_FALSE(decoded.isNull());
    EXPECT_EQ(decoded.size(), QSize(240, 180)) << "3/8 is the smallest scale that covers 240 x 180";
    const QColor middle = decoded.pixelColor(120, 90);
    EXPECT_NEAR(middle.red(), 200, 8);
    EXPECT_NEAR(middle.green(), 40, 8);
    EXPECT_NEAR(middle.blue(), 40, 8);

    // A small picture is not scaled up.
    QImage small(100, 60, QImage::Format_Grayscale8);
    small.fill(128);
    EXPECT_EQ(LoadJpegPreview(Write(dir, "small.jpg", JpegBytes(small))).size(), QSize(100, 60));

    QByteArray png;
    QBuffer pngBuffer(&png);
    pngBuffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&pngBuffer, "PNG"));
    const std::pair<const char*, QByteArray> refused[] = {
        {"empty.jpg", QByteArray()},
        {"text.jpg", QByteArray("<html>not found</html>")},
        {"png.jpg", png},
        {"truncated.jpg", jpeg.left(jpeg.size() / 2)},
        {"header-only.jpg", jpeg.left(200)},
        // A small file whose frame header claims 20000 x 20000 pixels.
        {"declares-400mp.jpg", DeclaringSize(jpeg, 20000, 20000)},
    };
    for (const auto& [name, bytes] : refused) EXPECT_TRUE(LoadJpegPreview(Write(dir, name, bytes)).isNull()) << name;
    EXPECT_TRUE(LoadJpegPreview(dir.filePath("missing.jpg").toStdString()).isNull());
}

TEST(JpegPreview, RefusesAWholeJpegAboveFiftyMegapixels) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // 8000 x 6300 = 50.4 megapixels, a real picture that the decoder would read without the limit.
    QImage large(8000, 6300, QImage::Format_Grayscale8);
    ASSERT_FALSE(large.isNull());
    large.fill(90);
    const std::string path = Write(dir, "large.jpg", JpegBytes(large));
    large = QImage();
    EXPECT_TRUE(LoadJpegPreview(path).isNull());

    QImage within(7000, 7000, QImage::Format_Grayscale8);
    within.fill(90);
    const std::string withinPath = Write(dir, "within.jpg", JpegBytes(within));
    within = QImage();
    EXPECT_EQ(LoadJpegPreview(withinPath).size(), QSize(875, 875)) << "49 megapixels decode at 1/8";
}

TEST(JpegPreview, PngGifAndWebpShowByTheirContentWhateverTheFileIsCalled) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage picture(640, 480, QImage::Format_RGB32);
    picture.fill(QColor(200, 40, 40));
    // Qt writes no GIF: ffmpeg draws the same picture.
    const std::string gifPath = dir.filePath("made.gif").toStdString();
    const tarnwick::testing::ProgramRun gif = tarnwick::testing::RunProgram(
        "ffmpeg", {"-loglevel", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                   "color=c=0xC82828:size=640x480", "-frames:v", "1", gifPath});
    ASSERT_EQ(gif.status, 0) << gif.err;
    const QByteArray png = PictureBytes(picture, "PNG");
    const std::pair<const char*, QByteArray> shown[] = {
        {"jpeg", JpegBytes(picture)},
        {"png", png},
        {"gif", QByteArray::fromStdString(tarnwick::testing::ReadWholeFile(gifPath))},
        {"webp", PictureBytes(picture, "WEBP")},
    };
    for (const auto& [format, bytes] : shown) {
        // The preview's work file is called preview.jpg whatever it holds.
        const QImage decoded = LoadPreview(Write(dir, "preview.jpg", bytes));
        ASSERT_FALSE(decoded.isNull()) << format;
        EXPECT_EQ(decoded.size(), QSize(240, 180)) << format;
        const QColor middle = decoded.pixelColor(120, 90);
        EXPECT_NEAR(middle.red(), 200, 16) << format;
        EXPECT_NEAR(middle.green(), 40, 16) << format;
        EXPECT_NEAR(middle.blue(), 40, 16) << format;
    }

    // 8000 x 6300 pixels, 18 KB as a PNG. Qt's own limit on a reader's memory, which this Qt
    // sets low enough to refuse it too, is lifted: the preview's own limit must refuse it.
    QImage large(8000, 6300, QImage::Format_Mono);
    large.fill(1);
    const std::pair<const char*, QByteArray> refused[] = {
        {"html", QByteArray("<!DOCTYPE html><title>x</title>")},
        {"bmp", PictureBytes(picture, "BMP")},
        {"truncated png", png.left(png.size() / 2)},
        {"50.4 megapixels", PictureBytes(large, "PNG")},
    };
    const int qtLimit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(0);
    for (const auto& [name, bytes] : refused)
        EXPECT_TRUE(LoadPreview(Write(dir, "preview.jpg", bytes)).isNull()) << name;
    QImageReader::setAllocationLimit(qtLimit);
}
