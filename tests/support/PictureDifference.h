#pragma once
// How far apart two pictures are: the mean difference per colour value
// (0 to 255), over the upper `rowsShare` of their rows. Pictures of
// different sizes are as far apart as can be.

#include <QImage>
#include <cstdlib>

namespace tarvelo::test {

inline double PictureDifference(const QImage& a, const QImage& b, double rowsShare = 1.0)
{
    if (a.size() != b.size() || a.isNull())
        return 255;
    QImage x = a.convertToFormat(QImage::Format_RGB888), y = b.convertToFormat(QImage::Format_RGB888);
    double total = 0;
    int count = 0;
    for (int row = 0; row < int(x.height() * rowsShare); ++row)
        for (int i = 0; i < x.width() * 3; ++i, ++count)
            total += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
    return count ? total / count : 0;
}

}  // namespace tarvelo::test
