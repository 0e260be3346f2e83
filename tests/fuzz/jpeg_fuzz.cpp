// A PICTURE column's bytes, as the query window decodes them into its box,
// and whole.

#include "framework/JpegImage.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QImage corner = tarvelo::DecodeJpeg(bytes, QSize(320, 240));
    if (corner.width() > 320 || corner.height() > 240)
        std::abort();  // never more than the box
    tarvelo::DecodeJpeg(bytes, QSize(1024, 1024));
    return 0;
}
