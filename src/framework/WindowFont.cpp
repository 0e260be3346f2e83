#include "framework/WindowFont.h"

namespace tarvelo {

QFont ConsoleFont()
{
    QFont font;
    font.setFamilies(QStringList{QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(12);
    return font;
}

}  // namespace tarvelo
