#include "framework/GbkText.h"

namespace tarvelo {

QString fromGbk(const char* zeroTerminated)
{
    return zeroTerminated ? fromGbk(std::string_view(zeroTerminated)) : QString();
}

bool gbkCanHold(const QString& text)
{
    return fromGbk(toGbk(text)) == text;
}

}  // namespace tarvelo
