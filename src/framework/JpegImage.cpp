#include "framework/JpegImage.h"

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

bool decompress(jpeg_decompress_struct& d, ErrorManager& errors, const QByteArray& bytes, QImage& out)
{
    if (setjmp(errors.exit))
        return false;
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(bytes.constData()), (unsigned long)bytes.size());
    if (jpeg_read_header(&d, TRUE) != JPEG_HEADER_OK)
        return false;
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    out = QImage(int(d.output_width), int(d.output_height), QImage::Format_RGB888);
    if (out.isNull())
        return false;  // too large to hold
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out.scanLine(int(d.output_scanline));
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
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

QImage DecodeJpeg(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    std::unique_ptr<jpeg_decompress_struct, DecompressDeleter> d(new jpeg_decompress_struct{});
    ErrorManager errors;
    installErrors(reinterpret_cast<j_common_ptr>(d.get()), errors);
    QImage image;
    if (!decompress(*d, errors, bytes, image))
        return {};
    return image;
}

}  // namespace tarvelo
