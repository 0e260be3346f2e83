#pragma once
// JPEG pictures through libjpeg-turbo's own interface (not Qt's plug-in):
// snapshots are encoded at quality 80, baseline, three colour components;
// stored pictures are decoded for display.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <stdexcept>

namespace tarvelo {

class JpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws JpegError with libjpeg's message when the image cannot be encoded.
QByteArray EncodeJpeg(const QImage& image, int quality = 80);

// A null image when the bytes hold no readable JPEG. Any JPEG kind that
// cameras and editors write: progressive, greyscale, any sampling, restart
// markers, (Adobe) CMYK. Only the top-left `limit` of the picture is
// decoded.
QImage DecodeJpeg(const QByteArray& bytes, const QSize& limit = QSize(65535, 65535));

}  // namespace tarvelo
