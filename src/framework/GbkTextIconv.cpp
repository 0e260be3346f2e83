// GBK through iconv (Linux).

#include "framework/GbkText.h"

#include <cerrno>
#include <iconv.h>
#include <memory>
#include <stdexcept>

namespace tarvelo {
namespace {

struct IconvCloser {
    void operator()(iconv_t cd) const { iconv_close(cd); }
};
using Iconv = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

Iconv openIconv(const char* to, const char* from)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    return Iconv(cd);
}

// Runs iconv over the whole input; on a byte sequence it cannot convert it
// appends `replacement` and skips `skip(in, left)` bytes, then carries on.
template <typename Skip>
std::string convert(const char* to, const char* from, std::string_view input,
                    std::string_view replacement, Skip skip)
{
    Iconv cd = openIconv(to, from);
    std::string out;
    out.reserve(input.size() * 2 + 8);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr);
        if (rc != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        out.append(replacement);
        size_t n = errno == EINVAL ? inLeft : skip(in, inLeft);
        in += n;
        inLeft -= n;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

size_t utf8SequenceLength(const char* p, size_t left)
{
    unsigned char c = static_cast<unsigned char>(*p);
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    return n < left ? n : left;
}

}  // namespace

QString fromGbk(std::string_view bytes)
{
    std::string utf8 = convert("UTF-8", "GBK", bytes, "\xEF\xBF\xBD",
                               [](const char*, size_t) -> size_t { return 1; });
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string toGbk(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    return convert("GBK", "UTF-8", std::string_view(utf8.constData(), utf8.size()), "?",
                   utf8SequenceLength);
}

}  // namespace tarvelo
