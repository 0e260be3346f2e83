#pragma once
// Conversion between the host's 8-bit GBK text (code page 936) and Unicode.

#include <QString>
#include <string>
#include <string_view>

namespace tarvelo {

// Bytes that are not valid GBK, including a lead byte cut off at the end,
// become U+FFFD.
QString fromGbk(std::string_view bytes);

// A null pointer reads as empty text.
QString fromGbk(const char* zeroTerminated);

// Characters that GBK cannot represent become '?', as Windows does.
std::string toGbk(const QString& text);

// True when every character of `text` has a GBK form, so that nothing is
// changed on the way to the host or the settings file.
bool gbkCanHold(const QString& text);

}  // namespace tarvelo
