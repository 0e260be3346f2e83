#pragma once
// The font of the library's windows: "宋体" at 12 pixels. Where SimSun is
// not installed, fontconfig's choice of a CJK font.

#include <QFont>
#include <QStringList>

namespace tarvelo {

QFont ConsoleFont();

}  // namespace tarvelo
