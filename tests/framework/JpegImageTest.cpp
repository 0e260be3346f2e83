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
