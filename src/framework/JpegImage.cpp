#include "framework/JpegImage.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <memory>

namespace tarvelo {
namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the call that set `exit`, with the message kept.
struct ErrorManager {
    jpeg_error_mgr base{};
    std::jmp_buf exit{};
    char message[JMSG_LENGTH_MAX] = {};
};

void jumpBack(j_common_ptr info)
{
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->exit, 1);
}

// Warnings (a picture cut short, stray bytes) are not printed: a picture
// that cannot be shown is simply not shown.
void staySilent(j_common_ptr) {}

void installErrors(j_common_ptr info, ErrorManager& errors)
{
    info->err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpBack;
    errors.base.output_message = staySilent;
}

// Destroying a struct that was never created (its memory manager still
// null) does nothing.
struct CompressDeleter {
    void operator()(jpeg_compress_struct* c) const
    {
        jpeg_destroy_compress(c);
        delete c;
    }
};
struct DecompressDeleter {
    void operator()(jpeg_decompress_struct* d) const
    {
        jpeg_destroy_decompress(d);
        delete d;
    }
};
struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};

// No C++ object with a destructor lives between setjmp and the calls that
// may jump, so the jump skips nothing.
bool compress(jpeg_compress_struct& c, ErrorManager& errors, const QImage& rgb, int quality, unsigned char** out,
              unsigned long* size)
{
    if (setjmp(errors.exit))
        return false;
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, out, size);
    c.image_width = JDIMENSION(rgb.width());
    c.image_height = JDIMENSION(rgb.height());
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    return true;
}

// The decoder leaves C, M, Y, K bytes where each pixel goes; Adobe's files
// (Photoshop, ImageMagick) store the inks inverted.
void cmykToRgb(QImage& image, bool inverted)
{
    for (int y = 0; y < image.height(); ++y) {
        auto* pixel = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x, ++pixel) {
            const auto* ink = reinterpret_cast<const uchar*>(pixel);
            auto amount = [&](int i) { return inverted ? int(ink[i]) : 255 - ink[i]; };
            int k = amount(3);
            *pixel = qRgb(amount(0) * k / 255, amount(1) * k / 255, amount(2) * k / 255);
        }
    }
}

// Only the rows and columns of `limit` from the top-left are decoded: a
// picture larger than its box costs no more than the box.
bool decompress(jpeg_decompress_struct& d, ErrorManager& errors, const QByteArray& bytes, const QSize& limit,
                QImage& out)
{
    if (setjmp(errors.exit))
        return false;
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(bytes.constData()), (unsigned long)bytes.size());
    if (jpeg_read_header(&d, TRUE) != JPEG_HEADER_OK)
        return false;
    bool cmyk = d.jpeg_color_space == JCS_CMYK || d.jpeg_color_space == JCS_YCCK;
    d.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&d);
    JDIMENSION width = std::min<JDIMENSION>(d.output_width, JDIMENSION(limit.width()));
    JDIMENSION height = std::min<JDIMENSION>(d.output_height, JDIMENSION(limit.height()));
    JDIMENSION left = 0;
    JDIMENSION cropped = width;
    if (width < d.output_width)
        jpeg_crop_scanline(&d, &left, &cropped);  // whole blocks: at least `width`
    out = QImage(int(d.output_width), int(height), cmyk ? QImage::Format_RGB32 : QImage::Format_RGB888);
    if (out.isNull())
        return false;  // too large to hold
    while (d.output_scanline < height) {
        JSAMPROW row = out.scanLine(int(d.output_scanline));
        jpeg_read_scanlines(&d, &row, 1);
    }
    if (cmyk)
        cmykToRgb(out, d.saw_Adobe_marker);
    if (out.width() > int(width))
        out = out.copy(0, 0, int(width), int(height));
    jpeg_abort_decompress(&d);
    return true;
}

}  // namespace

QByteArray EncodeJpeg(const QImage& image, int quality)
{
    if (image.isNull())
        throw JpegError("there is no picture to encode");
    QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::unique_ptr<jpeg_compress_struct, CompressDeleter> c(new jpeg_compress_struct{});
    ErrorManager errors;
    installErrors(reinterpret_cast<j_common_ptr>(c.get()), errors);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool ok = compress(*c, errors, rgb, quality, &buffer, &size);
    std::unique_ptr<unsigned char, FreeDeleter> owned(buffer);
    if (!ok)
        throw JpegError(errors.message);
    return QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(size));
}

QImage DecodeJpeg(const QByteArray& bytes, const QSize& limit)
{
    if (bytes.isEmpty() || limit.isEmpty())
        return {};
    std::unique_ptr<jpeg_decompress_struct, DecompressDeleter> d(new jpeg_decompress_struct{});
    ErrorManager errors;
    installErrors(reinterpret_cast<j_common_ptr>(d.get()), errors);
    QImage image;
    if (!decompress(*d, errors, bytes, limit, image))
        return {};
    return image;
}

}  // namespace tarvelo
