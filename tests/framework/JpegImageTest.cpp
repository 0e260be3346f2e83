// Snapshots' JPEG encoding, checked by an independent decoder (djpeg) and
// by the file's own markers: baseline, three components, the quantisation
// tables of quality 80.

#include "framework/JpegImage.h"
#include "support/TempDir.h"

#include <QFile>
#include <QPainter>
#include <QProcess>
#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

QImage testPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), Qt::darkBlue);
    painter.fillRect(QRect(0, 0, width / 2, height / 2), Qt::yellow);
    painter.fillRect(QRect(width / 2, height / 2, width / 2, height / 2), Qt::red);
    return image;
}

// The marker segments of a JPEG file, by marker byte.
std::map<uint8_t, std::vector<QByteArray>> segments(const QByteArray& jpeg)
{
    std::map<uint8_t, std::vector<QByteArray>> found;
    qsizetype at = 2;  // after SOI
    while (at + 4 <= jpeg.size() && uint8_t(jpeg[at]) == 0xFF) {
        auto marker = uint8_t(jpeg[at + 1]);
        int length = (uint8_t(jpeg[at + 2]) << 8) | uint8_t(jpeg[at + 3]);
        found[marker].push_back(jpeg.mid(at + 4, length - 2));
        if (marker == 0xDA)
            break;  // the picture data follows
        at += 2 + length;
    }
    return found;
}

// libjpeg's standard luminance table, in zigzag order, scaled as quality 80 scales it.
std::vector<int> luminanceTableAtQuality80()
{
    const int standard[64] = {16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,
                              26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58, 51, 61, 60, 57, 51,
                              56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87,
                              95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
    std::vector<int> table;
    for (int value : standard)
        table.push_back(std::clamp((value * 40 + 50) / 100, 1, 255));
    return table;
}

}  // namespace

TEST(JpegImage, EncodesBaselineColourAtQuality80)
{
    TempWorkDir dir;
    QByteArray jpeg = EncodeJpeg(testPicture(640, 480));
    auto found = segments(jpeg);
    ASSERT_EQ(found.count(0xC0), 1u) << "SOF0: baseline sequential";
    EXPECT_EQ(found.count(0xC2), 0u) << "not progressive";
    const QByteArray& frame = found[0xC0][0];
    EXPECT_EQ((uint8_t(frame[1]) << 8) | uint8_t(frame[2]), 480);
    EXPECT_EQ((uint8_t(frame[3]) << 8) | uint8_t(frame[4]), 640);
    EXPECT_EQ(int(frame[5]), 3) << "three colour components";
    const QByteArray& quantisation = found[0xDB][0];
    std::vector<int> luminance;
    for (int i = 1; i <= 64; ++i)
        luminance.push_back(uint8_t(quantisation[i]));
    EXPECT_EQ(luminance, luminanceTableAtQuality80());

    QFile file(dir.file("snapshot.jpg"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(jpeg);
    file.close();
    QProcess djpeg;
    djpeg.start("djpeg", {"-pnm", dir.file("snapshot.jpg")});
    ASSERT_TRUE(djpeg.waitForFinished(10000));
    QByteArray ppm = djpeg.readAllStandardOutput();
    EXPECT_EQ(djpeg.exitCode(), 0);
    EXPECT_TRUE(ppm.startsWith("P6\n640 480\n255\n")) << ppm.left(20).toStdString();
}

TEST(JpegImage, DecodesWhatItEncodedAndNothingElse)
{
    QImage decoded = DecodeJpeg(EncodeJpeg(testPicture(352, 288)));
    ASSERT_EQ(decoded.size(), QSize(352, 288));
    EXPECT_LT(qAbs(qRed(decoded.pixel(10, 10)) - 255), 8) << "yellow stays yellow";
    EXPECT_LT(qAbs(qBlue(decoded.pixel(10, 10)) - 0), 8);
    EXPECT_TRUE(DecodeJpeg(QByteArray()).isNull());
    EXPECT_TRUE(DecodeJpeg("no picture at all").isNull());
    QByteArray broken = EncodeJpeg(testPicture(64, 64));
    broken[1] = 0;  // no start-of-image marker
    EXPECT_TRUE(DecodeJpeg(broken).isNull());
    EXPECT_THROW(EncodeJpeg(QImage()), JpegError);
}

namespace {

// Runs a picture tool of someone else's (ImageMagick, cjpeg) and answers
// what it wrote.
QByteArray madeBy(const QStringList& command, const QString& out)
{
    QProcess tool;
    tool.start(command.first(), command.mid(1));
    tool.waitForFinished(60000);
    EXPECT_EQ(tool.exitCode(), 0) << command.join(' ').toStdString() << tool.readAllStandardError().toStdString();
    QFile file(out);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// An Exif block as an IP camera puts it first: APP1, "Exif", a TIFF header
// with no entries.
QByteArray withExif(const QByteArray& jpeg)
{
    QByteArray tiff("Exif\0\0II*\0\x08\0\0\0\0\0", 16);
    QByteArray app1 = QByteArray("\xFF\xE1") + char((tiff.size() + 2) >> 8) + char((tiff.size() + 2) & 0xFF) + tiff;
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

int distance(QRgb a, QRgb b)
{
    return std::max({qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))});
}

}  // namespace

// Pictures that other systems wrote into CAPPICTURE, made here by
// ImageMagick and cjpeg; each kind is checked to be what it claims.
TEST(JpegImage, DecodesWhatCamerasAndEditorsWrite)
{
    TempWorkDir dir;
    const QString in = dir.file("in.png"), ppm = dir.file("in.ppm"), out = dir.file("out.jpg");
    ASSERT_TRUE(testPicture(320, 240).save(in) && testPicture(320, 240).save(ppm));
    const QRgb yellow = qRgb(255, 255, 0), red = qRgb(255, 0, 0);
    const QRgb greyYellow = qRgb(226, 226, 226), greyRed = qRgb(76, 76, 76);  // their luminance
    struct Kind {
        const char* what;
        QStringList command;
        uint8_t frameMarker;  // SOF0 baseline, SOF2 progressive
        int components;
        uint8_t firstSampling;  // horizontal << 4 | vertical
        QRgb topLeft, bottomRight;
    } kinds[] = {
        {"progressive 4:2:0", {"convert", in, "-interlace", "JPEG", "-sampling-factor", "2x2", out}, 0xC2, 3, 0x22,
         yellow, red},
        {"greyscale", {"convert", in, "-colorspace", "Gray", out}, 0xC0, 1, 0x11, greyYellow, greyRed},
        {"4:4:4", {"convert", in, "-sampling-factor", "1x1", out}, 0xC0, 3, 0x11, yellow, red},
        {"4:2:2", {"convert", in, "-sampling-factor", "2x1", out}, 0xC0, 3, 0x21, yellow, red},
        {"restart markers and Exif", {"cjpeg", "-restart", "1", "-outfile", out, ppm}, 0xC0, 3, 0x22, yellow, red},
        {"Adobe CMYK", {"convert", in, "-colorspace", "CMYK", out}, 0xC0, 4, 0x11, yellow, red},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.what);
        QByteArray jpeg = madeBy(kind.command, out);
        if (kind.command.first() == "cjpeg") {
            ASSERT_EQ(segments(jpeg).count(0xDD), 1u) << "a restart interval";
            jpeg = withExif(jpeg);
        }
        auto found = segments(jpeg);
        ASSERT_EQ(found.count(kind.frameMarker), 1u);
        const QByteArray& frame = found[kind.frameMarker][0];
        ASSERT_EQ(int(frame[5]), kind.components);
        ASSERT_EQ(uint8_t(frame[7]), kind.firstSampling);
        QImage decoded = DecodeJpeg(jpeg);
        ASSERT_EQ(decoded.size(), QSize(320, 240));
        EXPECT_LT(distance(decoded.pixel(20, 20), kind.topLeft), 24);
        EXPECT_LT(distance(decoded.pixel(300, 220), kind.bottomRight), 24);
    }
}

// A picture much larger than its box: only the box's corner is decoded.
TEST(JpegImage, DecodesOnlyTheCornerItIsAskedFor)
{
    TempWorkDir dir;
    QImage large(4000, 3000, QImage::Format_RGB32);
    large.fill(Qt::blue);
    QPainter(&large).fillRect(QRect(0, 0, 160, 120), Qt::red);
    ASSERT_TRUE(large.save(dir.file("large.png")));
    for (const char* colourSpace : {"sRGB", "CMYK"}) {
        SCOPED_TRACE(colourSpace);
        QByteArray jpeg =
            madeBy({"convert", dir.file("large.png"), "-colorspace", colourSpace, dir.file("large.jpg")},
                   dir.file("large.jpg"));
        QImage corner = DecodeJpeg(jpeg, QSize(320, 240));
        ASSERT_EQ(corner.size(), QSize(320, 240));
        EXPECT_LT(distance(corner.pixel(100, 100), qRgb(255, 0, 0)), 24) << "not scaled";
        EXPECT_LT(distance(corner.pixel(200, 150), qRgb(0, 0, 255)), 24);
    }
}

