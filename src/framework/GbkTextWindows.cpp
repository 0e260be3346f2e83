// GBK as Windows' code page 936. Best-fit mappings are off: a character 936
// cannot hold becomes '?' rather than some look-alike.

#include "framework/GbkText.h"

#include <windows.h>

namespace tarvelo {
namespace {

constexpr UINT Gbk = 936;
const QChar Replacement(0xFFFD);

bool isLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

// One character of 936 as UTF-16, or nothing when it is not one.
bool decodeStrict(const char* bytes, int count, std::wstring& out)
{
    wchar_t wide[4];
    int n = MultiByteToWideChar(Gbk, MB_ERR_INVALID_CHARS, bytes, count, wide, 4);
    if (n <= 0)
        return false;
    out.append(wide, size_t(n));
    return true;
}

// Byte by byte, so that each bad sequence costs exactly one U+FFFD and the
// good text around it survives.
QString decodeWithReplacements(std::string_view bytes)
{
    QString text;
    size_t i = 0;
    while (i < bytes.size()) {
        auto b = static_cast<unsigned char>(bytes[i]);
        std::wstring one;
        size_t width = isLeadByte(b) && i + 1 < bytes.size() ? 2 : 1;
        if (b < 0x80) {
            text += QChar(b);
        } else if (decodeStrict(bytes.data() + i, int(width), one)) {
            text += QString::fromWCharArray(one.data(), qsizetype(one.size()));
        } else {
            text += Replacement;
            width = 1;
        }
        i += width;
    }
    return text;
}

std::string encodeOne(const wchar_t* wide, int count)
{
    char bytes[8];
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(Gbk, WC_NO_BEST_FIT_CHARS, wide, count, bytes, sizeof bytes, nullptr, &usedDefault);
    return n > 0 && !usedDefault ? std::string(bytes, size_t(n)) : std::string("?");
}

}  // namespace

QString fromGbk(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    int count = int(bytes.size());
    int needed = MultiByteToWideChar(Gbk, MB_ERR_INVALID_CHARS, bytes.data(), count, nullptr, 0);
    if (needed <= 0)
        return decodeWithReplacements(bytes);
    std::wstring wide(size_t(needed), L'\0');
    MultiByteToWideChar(Gbk, MB_ERR_INVALID_CHARS, bytes.data(), count, wide.data(), needed);
    return QString::fromWCharArray(wide.data(), needed);
}

std::string toGbk(const QString& text)
{
    std::wstring wide = text.toStdWString();
    if (wide.empty())
        return {};
    BOOL usedDefault = FALSE;
    int count = int(wide.size());
    int needed = WideCharToMultiByte(Gbk, WC_NO_BEST_FIT_CHARS, wide.data(), count, nullptr, 0, nullptr, &usedDefault);
    if (needed > 0 && !usedDefault) {
        std::string bytes(size_t(needed), '\0');
        WideCharToMultiByte(Gbk, WC_NO_BEST_FIT_CHARS, wide.data(), count, bytes.data(), needed, nullptr, nullptr);
        return bytes;
    }
    // One '?' for each character that 936 lacks, a surrogate pair counting once.
    std::string bytes;
    for (size_t i = 0; i < wide.size();) {
        int width = IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() && IS_LOW_SURROGATE(wide[i + 1]) ? 2 : 1;
        bytes += encodeOne(wide.data() + i, width);
        i += size_t(width);
    }
    return bytes;
}

}  // namespace tarvelo
